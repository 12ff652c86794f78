// The DNS block-list test of HELO and EHLO against a real DNS server
// (dnsmasq) on loopback. The client is 127.0.0.1, so every zone is asked
// for "1.0.0.127." + zone. "silent.test" is forwarded to a port where
// nothing answers.
#include "server/inbound/RelayTest.h"
#include "server/inbound/RelayZones.h"
#include "tests/inbound/InboundServerFixture.h"
#include "tests/net/test_resolver_dns.h"

#include <QElapsedTimer>

namespace {

class InboundRelayTest : public InboundServerTest {
protected:
    static void SetUpTestSuite() {
        silent_ = new SilentDnsServer;
        const QString silentPort = QString::fromLatin1(silent_->Servers()).section(':', 1);
        dns_ = new TestDnsServer({
            "--address=/1.0.0.127.listed.test/127.0.0.2",
            "--address=/1.0.0.127.refusing.test/127.255.255.254",
            "--local=/clean.test/",
            "--local=/listed.test/",
            "--local=/refusing.test/",
            "--server=/silent.test/127.0.0.1#" + silentPort,
        });
        ASSERT_TRUE(dns_->Started()) << dns_->Output().toStdString();
    }
    static void TearDownTestSuite() {
        delete dns_;
        delete silent_;
    }
    void SetUp() override {
        qputenv("OSPRINE_NAMESERVERS", dns_->Servers());
        install.settings.RelayEnable = 1;
    }
    void TearDown() override { qunsetenv("OSPRINE_NAMESERVERS"); }

    static TestDnsServer* dns_;
    static SilentDnsServer* silent_;
};
TestDnsServer* InboundRelayTest::dns_ = nullptr;
SilentDnsServer* InboundRelayTest::silent_ = nullptr;

TEST_F(InboundRelayTest, AListedClientIsRefusedAndCounted) {
    install.List("relaydb", "clean.test; Listed.TEST ;refusing.test");
    StartServer();
    auto client = Greeted();
    EXPECT_EQ(client->Ask("EHLO spammer.example"),
              Text("421 spammer.example is listed as an open relay. Ending session."));
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_EQ(install.stats.BlockedRelays, 1);
    const TextList log = install.LogTexts(1);
    const TextList expected = {"--> EHLO spammer.example", "Relay Blocker is checking 127.0.0.1",
                               "* clean.test - passed", "* listed.test - failed",
                               "<-- 421 spammer.example is listed as an open relay. Ending session."};
    EXPECT_EQ(log.mid(3, expected.size()), expected);
    const TextList window = install.WindowTexts();
    const qsizetype start = window.indexOf("[1] --> EHLO spammer.example");
    ASSERT_GE(start, 0);
    const TextList expectedWindow = {"[1] Relay Blocker is checking 127.0.0.1", "[1] * clean.test - passed",
                                     "[1] * listed.test - failed",
                                     "[1] <-- 421 spammer.example is listed as an open relay. Ending session."};
    EXPECT_EQ(window.mid(start + 1, expectedWindow.size()), expectedWindow);
}

TEST_F(InboundRelayTest, AZonesOwnErrorAnswerIsNotAListing) {
    install.List("relaydb", "refusing.test;clean.test");
    StartServer();
    auto client = Greeted();
    EXPECT_EQ(client->Ask("HELO me"), Text("250 Welcome 127.0.0.1, pleased to meet you."));
    const TextList log = install.LogTexts(1);
    EXPECT_TRUE(log.contains("* refusing.test - passed"));
    EXPECT_TRUE(log.contains("* clean.test - passed"));
    EXPECT_EQ(install.stats.BlockedRelays, 0);
}

TEST_F(InboundRelayTest, NoZonesMeansPassed) {
    install.List("relaydb", " ; ");
    StartServer();
    auto client = Greeted();
    EXPECT_EQ(client->Ask("EHLO me"), Text("250 Welcome me, pleased to meet you."));
    EXPECT_TRUE(install.LogTexts(1).contains("Relay Blocker is checking 127.0.0.1"));
}

TEST_F(InboundRelayTest, AZoneThatNeverAnswersPassesAfterTheLimitWhileOthersAreServed) {
    install.List("relaydb", "silent.test;listed.test");
    StartServer();
    server->SetRelayQueryLimit(1500);
    auto a = Greeted();
    auto b = Greeted();
    QElapsedTimer clock;
    clock.start();
    a->Say("EHLO slow.example");
    EXPECT_EQ(b->Ask("NOOP"), Text("250 OK."));
    EXPECT_EQ(a->ReadFor(0), Text());   // b was served while a still waits
    // The silent zone passes at its limit; the next zone still counts.
    EXPECT_EQ(a->ReadLine(10000), Text("421 slow.example is listed as an open relay. Ending session."));
    EXPECT_GE(clock.elapsed(), 1400);
    EXPECT_TRUE(install.LogTexts(1).contains("* silent.test - passed"));
}

TEST_F(InboundRelayTest, ASessionThatEndsDuringTheTestStopsIt) {
    install.List("relaydb", "silent.test;listed.test");
    StartServer();
    server->SetRelayQueryLimit(800);
    auto a = Greeted();
    a->Say("EHLO gone.example");
    ASSERT_TRUE(RunEventsUntil([&] { return install.LogTexts(1).contains("Relay Blocker is checking 127.0.0.1"); }));
    a->Close();
    ASSERT_TRUE(RunEventsUntil([&] { return server->Slot(1).use == SlotUse::Free; }));
    RunEventsFor(1200);
    const TextList log = install.LogTexts(1);
    EXPECT_FALSE(log.contains("* silent.test - passed"));
    EXPECT_FALSE(log.contains("* listed.test - failed"));
    EXPECT_EQ(install.stats.BlockedRelays, 0);
    EXPECT_FALSE(server->IsActive());
}

TEST(RelayNames, ReversedAddressAndErrorAnswers) {
    EXPECT_EQ(RelayTest::ReversedName("192.168.5.7"), "7.5.168.192");
    EXPECT_EQ(RelayTest::ReversedName(" 10. 0 .0.1"), "1.0.0.10");
    EXPECT_TRUE(RelayZones::IsListing("127.0.0.2"));
    EXPECT_TRUE(RelayZones::IsListing("127.255.254.1"));
    EXPECT_FALSE(RelayZones::IsListing("127.255.255.0"));
    EXPECT_FALSE(RelayZones::IsListing("127.255.255.255"));
    EXPECT_FALSE(RelayZones::IsListing(""));
    // A made-up answer outside 127.0.0.0/8 is no listing.
    EXPECT_FALSE(RelayZones::IsListing("198.51.100.7"));
    EXPECT_TRUE(RelayZones::IsForeign("198.51.100.7"));
    EXPECT_FALSE(RelayZones::IsForeign("127.0.0.2"));
}

}   // namespace
