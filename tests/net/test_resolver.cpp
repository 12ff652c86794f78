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

namespace {

// The records of every type Lookup serves, through a dnsmasq of their own.
class RecordLookupTest : public ::testing::Test {
protected:
    static std::optional<DnsAnswer> Ask(clsIPResolve& r, const Text& name, DnsType type, int limitMs = 5000) {
        std::optional<DnsAnswer> answer;
        r.Lookup(name, type, [&](const DnsAnswer& a) { answer = a; });
        QElapsedTimer clock;
        clock.start();
        while (!answer && clock.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        return answer;
    }
};

TEST_F(RecordLookupTest, EachTypeItsRecordsStatusAndTtl) {
    TestDnsServer dns({"--txt-record=spf.rec.test,v=spf1 ip4:192.0.2.0/24 ,-all", "--txt-record=two.rec.test,first",
                       "--txt-record=two.rec.test,second", "--mx-host=rec.test,mx2.rec.test,20",
                       "--mx-host=rec.test,mx1.rec.test,10", "--host-record=host.rec.test,192.0.2.5,2001:db8::5",
                       "--ptr-record=5.2.0.192.in-addr.arpa,host.rec.test", "--local-ttl=300", "--local=/rec.test/",
                       "--local=/in-addr.arpa/"});
    ASSERT_TRUE(dns.Started()) << dns.Output().toStdString();
    qputenv("OSPRINE_NAMESERVERS", dns.Servers());
    clsIPResolve r;

    // The strings of one TXT record are joined without a gap (dnsmasq makes
    // one string of each text between commas).
    auto a = Ask(r, "spf.rec.test", DnsType::TXT);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, DnsStatus::Found);
    EXPECT_EQ(a->records, QList<Text>{"v=spf1 ip4:192.0.2.0/24 -all"});
    EXPECT_EQ(a->ttl, 300u);
    a = Ask(r, "two.rec.test", DnsType::TXT);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->records.size(), 2);
    EXPECT_TRUE(a->records.contains("first") && a->records.contains("second"));
    a = Ask(r, "rec.test", DnsType::MX);   // lowest preference first
    ASSERT_TRUE(a);
    EXPECT_EQ(a->records, (QList<Text>{"mx1.rec.test", "mx2.rec.test"}));
    a = Ask(r, "host.rec.test.", DnsType::A);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->records, QList<Text>{"192.0.2.5"});
    a = Ask(r, "HOST.rec.test", DnsType::AAAA);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->records, QList<Text>{"2001:db8::5"});
    a = Ask(r, "5.2.0.192.in-addr.arpa", DnsType::PTR);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->records, QList<Text>{"host.rec.test"});

    // A name without the type, a name that does not exist, a name no one may ask for.
    a = Ask(r, "host.rec.test", DnsType::TXT);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, DnsStatus::NoData);
    EXPECT_FALSE(a->noSuchName);
    a = Ask(r, "nowhere.rec.test", DnsType::TXT);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, DnsStatus::NoData);
    EXPECT_TRUE(a->noSuchName);
    a = Ask(r, "bad..rec.test", DnsType::A);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, DnsStatus::Failed);
    qunsetenv("OSPRINE_NAMESERVERS");
}

TEST_F(RecordLookupTest, ServerFailuresAreFailedAndARefusedPortAnswersAtOnce) {
    SilentDnsServer silent;
    qputenv("OSPRINE_NAMESERVERS", silent.Servers());
    {
        clsIPResolve r;
        r.SetTimeLimit(300);
        const auto a = Ask(r, "x.rec.test", DnsType::TXT, 30000);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->status, DnsStatus::Failed);
    }
    // Nothing listens on this port: the refusal ends the query long before
    // the (here very long) time limit.
    qputenv("OSPRINE_NAMESERVERS", "127.0.0.1:" + QByteArray::number(TestDnsServer::FreeUdpPort()));
    clsIPResolve r;
    r.SetTimeLimit(600000);
    const auto a = Ask(r, "x.rec.test", DnsType::TXT, 60000);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, DnsStatus::Failed);
    qunsetenv("OSPRINE_NAMESERVERS");
}

}   // namespace
