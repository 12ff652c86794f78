// The resolver against a real DNS server (dnsmasq) on loopback.
#include "server/net/IPResolve.h"
#include "tests/net/test_resolver_dns.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <optional>

namespace {

// Runs the event loop until the answer came or `limitMs` passed.
std::optional<Text> WaitFor(const std::optional<Text>& answer, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!answer && clock.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return answer;
}

class ResolverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dns_ = new TestDnsServer({"--address=/listed.zone.test/127.0.0.2", "--local=/zone.test/",
                                  "--host-record=named.test,127.0.0.9", "--host-record=multi.test,127.0.0.21",
                                  "--host-record=multi.test,127.0.0.22", "--local=/test/"});
        ASSERT_TRUE(dns_->Started()) << dns_->Output().toStdString();
    }
    static void TearDownTestSuite() {
        delete dns_;
        dns_ = nullptr;
    }
    void SetUp() override { qputenv("OSPRINE_NAMESERVERS", dns_->Servers()); }
    void TearDown() override { qunsetenv("OSPRINE_NAMESERVERS"); }

    static std::optional<Text> Lookup(clsIPResolve& r, const Text& name, int limitMs = 5000) {
        std::optional<Text> answer;
        r.NameToAddress(name, [&](const Text& a) { answer = a; });
        return WaitFor(answer, limitMs);
    }
    static std::optional<Text> Reverse(clsIPResolve& r, const Text& ip, int limitMs = 5000) {
        std::optional<Text> answer;
        r.AddressToName(ip, [&](const Text& a) { answer = a; });
        return WaitFor(answer, limitMs);
    }

    static TestDnsServer* dns_;
};
TestDnsServer* ResolverTest::dns_ = nullptr;

TEST_F(ResolverTest, NameToAddressGivesTheDottedAddressOrEmptyText) {
    clsIPResolve r;
    ASSERT_TRUE(r.Started());
    EXPECT_EQ(Lookup(r, "listed.zone.test"), Text("127.0.0.2"));
    EXPECT_EQ(Lookup(r, " 4.3.2.1.listed.zone.test "), Text("127.0.0.2"));   // subdomains too, trimmed
    EXPECT_EQ(Lookup(r, "not-listed.zone.test"), Text(""));
    EXPECT_EQ(Lookup(r, ""), Text(""));
}

TEST_F(ResolverTest, ANameWithSeveralAddressesGivesOneOfThem) {
    clsIPResolve r;
    const auto answer = Lookup(r, "multi.test");
    ASSERT_TRUE(answer);
    EXPECT_TRUE(*answer == "127.0.0.21" || *answer == "127.0.0.22") << answer->constData();
}

TEST_F(ResolverTest, AddressToNameGivesTheHostName) {
    clsIPResolve r;
    EXPECT_EQ(Reverse(r, "127.0.0.9"), Text("named.test"));
    EXPECT_EQ(Reverse(r, "127.0.0.77"), Text(""));
}

TEST_F(ResolverTest, MalformedAddressesAreRefusedWithoutAsking) {
    // A server that never answers and counts what it is asked.
    SilentDnsServer silent;
    qputenv("OSPRINE_NAMESERVERS", silent.Servers());
    clsIPResolve r;
    for (const char* bad : {"1.2.3", "1.2.3.256", "a.b.c.d", "1.2.3.4.5", "1..3.4", "-1.2.3.4", ""})
        EXPECT_EQ(Reverse(r, bad, 2000), Text("")) << bad;
    EXPECT_EQ(silent.Queries(), 0);
}

TEST_F(ResolverTest, DottedQuadIsWrittenWithoutLeadingZeros) {
    unsigned char b[4];
    ASSERT_TRUE(clsIPResolve::ParseDottedQuad("010.000.0.1", b));
    EXPECT_EQ(clsIPResolve::DottedQuad(b), Text("10.0.0.1"));
    ASSERT_TRUE(clsIPResolve::ParseDottedQuad("0010.0255.0.00001", b));
    EXPECT_EQ(clsIPResolve::DottedQuad(b), Text("10.255.0.1"));
    EXPECT_FALSE(clsIPResolve::ParseDottedQuad("1.2.3.0256", b));
    EXPECT_FALSE(clsIPResolve::ParseDottedQuad("1.2.3.99999999999", b));
    ASSERT_TRUE(clsIPResolve::ParseDottedQuad("255.255.255.255", b));
    EXPECT_EQ(clsIPResolve::DottedQuad(b), Text("255.255.255.255"));
}

TEST_F(ResolverTest, AServerThatNeverAnswersEndsAtTheTimeLimit) {
    SilentDnsServer silent;
    qputenv("OSPRINE_NAMESERVERS", silent.Servers());
    clsIPResolve r;
    r.SetTimeLimit(400);
    QElapsedTimer clock;
    clock.start();
    // An answer at all (not the helper's own give-up) is the limit at work.
    EXPECT_EQ(Lookup(r, "4.3.2.1.zone.test", 30000), Text(""));
    EXPECT_GE(clock.elapsed(), 350);
    EXPECT_GE(silent.Queries(), 1);
}

TEST_F(ResolverTest, AnswersAreNeverDeliveredInsideTheCall) {
    clsIPResolve r;
    bool called = false;
    r.NameToAddress("", [&](const Text&) { called = true; });
    EXPECT_FALSE(called);
    QCoreApplication::processEvents();
    EXPECT_TRUE(called);
}

TEST_F(ResolverTest, NoAnswerArrivesAfterTheResolverIsGone) {
    SilentDnsServer silent;
    qputenv("OSPRINE_NAMESERVERS", silent.Servers());
    bool called = false;
    {
        clsIPResolve r;
        r.SetTimeLimit(100);
        r.NameToAddress("x.zone.test", [&](const Text&) { called = true; });
        r.NameToAddress("", [&](const Text&) { called = true; });   // answer already queued
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_FALSE(called);
}

TEST_F(ResolverTest, ABadServerOverrideStartsNothing) {
    qputenv("OSPRINE_NAMESERVERS", "not an address");
    clsIPResolve r;
    EXPECT_FALSE(r.Started());
    EXPECT_EQ(Lookup(r, "listed.zone.test", 2000), Text(""));
}

}   // namespace
