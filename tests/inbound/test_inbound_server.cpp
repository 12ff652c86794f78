// The listener and the session slots with real sockets on loopback.
#include "server/inbound/IpRules.h"
#include "tests/inbound/InboundServerFixture.h"

#include <QRegularExpression>

namespace {

TEST_F(InboundServerTest, AWholeSessionFromGreetingToQuit) {
    StartServer();
    TestClient client;
    ASSERT_TRUE(client.Connect(Port()));
    const auto banner = client.ReadLine();
    ASSERT_TRUE(banner);
    const QRegularExpression form(
        R"(^220-bbs\.example OSPRINE v1\.4\.060711; (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d )"
        R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4}$)");
    EXPECT_TRUE(form.match(QString::fromLatin1(*banner)).hasMatch()) << banner->constData();
    EXPECT_EQ(client.ReadLine(), Text("220 All transactions and IP addresses are logged."));

    EXPECT_EQ(client.Ask("EHLO client.example"), Text("250 Welcome client.example, pleased to meet you."));
    EXPECT_EQ(client.Ask("MAIL FROM:<someone@remote.example>"), Text("250 Sender \"someone@remote.example\" OK..."));
    EXPECT_EQ(client.Ask("RCPT TO:<John.Smith@bbs.example>"), Text("250 Recipient \"John.Smith@bbs.example\" OK..."));
    EXPECT_EQ(client.Ask("DATA"), Text("354 Begin data transfer. Mark the end of the transfer with <CRLF>.<CRLF>"));
    client.Send("Subject: test\r\n\r\nHello.\r\n.\r\n");
    EXPECT_EQ(client.ReadLine(), Text("250 Received data (23 bytes)."));
    EXPECT_EQ(client.Ask("QUIT"), Text("221 Have a nice day!"));
    EXPECT_TRUE(client.WaitClosed());

    ASSERT_EQ(saver.messages.size(), 1);
    EXPECT_EQ(saver.messages[0].returnPath, "someone@remote.example");
    EXPECT_EQ(saver.messages[0].recipients, "John.Smith@bbs.example");
    EXPECT_EQ(saver.messages[0].message, "Subject: test\r\n\r\nHello.");
    EXPECT_EQ(saver.messages[0].slot, 1);
    EXPECT_EQ(saver.messages[0].sendingHost, "127.0.0.1");
    EXPECT_EQ(install.stats.TotalConnections, 1);
    EXPECT_EQ(install.stats.TotalIncoming, 1);

    // The slot is free as soon as the session has ended, without a tick.
    EXPECT_EQ(server->Slot(1).use, SlotUse::Free);
    EXPECT_FALSE(server->IsActive());

    const TextList log = install.LogTexts(1);
    ASSERT_GE(log.size(), 4);
    EXPECT_EQ(log[0], "Connection Initiated By: 127.0.0.1");
    EXPECT_EQ(log[1], "<-- " + *banner);
    EXPECT_EQ(log[2], "<-- 220 All transactions and IP addresses are logged.");
    EXPECT_EQ(log.last(), "Connection Terminated");
    const TextList window = install.WindowTexts();
    ASSERT_GE(window.size(), 5);
    EXPECT_EQ(window[0], "Socket 1 Started By IP 127.0.0.1");
    EXPECT_EQ(window[1], "[1] <-- " + *banner);
    EXPECT_EQ(window[2], "[1] <-- 220 All transactions and IP addresses are logged.");
    EXPECT_EQ(window[3], "[1] --> EHLO client.example");
    EXPECT_EQ(window[4], "[1] <-- 250 Welcome client.example, pleased to meet you.");
    EXPECT_EQ(window.last(), "Socket 1 Closed");
    const QRegularExpression stamp(R"(^\d\d:\d\d:\d\d : \S)");
    for (const Text& line : install.window)
        EXPECT_TRUE(stamp.match(QString::fromLatin1(line)).hasMatch()) << line.constData();
}

TEST_F(InboundServerTest, TheAcceptLockTakesOneConnectionPerTick) {
    StartServer();
    install.run.AcceptLock.Hold();   // as after start-up
    TestClient a, b;
    ASSERT_TRUE(a.Connect(Port()));
    EXPECT_EQ(a.ReadFor(300), "");
    Timer1();
    EXPECT_TRUE(a.ReadLine());
    EXPECT_EQ(install.run.AcceptLock.Value(), 1);   // the slot just taken

    ASSERT_TRUE(b.Connect(Port()));
    EXPECT_EQ(b.ReadFor(300), "");
    Timer1();
    const auto line = b.ReadLine();
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->startsWith("220-"));
    EXPECT_EQ(install.run.AcceptLock.Value(), 2);

    // "acceptrate" lets more in per tick; the gate closes on the last of them.
    install.List("acceptrate", "2");
    install.List("maxperip", "0");
    TestClient c, d, e;
    for (TestClient* client : {&c, &d, &e}) ASSERT_TRUE(client->Connect(Port()));
    EXPECT_EQ(e.ReadFor(300), "");
    Timer1();
    EXPECT_TRUE(c.ReadLine() && d.ReadLine());
    EXPECT_EQ(e.ReadFor(300), "");
    EXPECT_EQ(install.run.AcceptLock.Value(), 4);
    Timer1();
    EXPECT_TRUE(e.ReadLine());
    EXPECT_EQ(install.run.AcceptLock.Value(), 0);   // one of two admissions used
}

TEST_F(InboundServerTest, NothingIsAcceptedWhileLoadingOrClosing) {
    StartServer();
    install.run.ServerState = ServerPhase::Loading;
    TestClient a;
    ASSERT_TRUE(a.Connect(Port()));
    Timer1();
    EXPECT_EQ(a.ReadFor(300), "");
    install.run.ServerState = ServerPhase::Online;
    Timer1();
    EXPECT_TRUE(a.ReadLine());
}

TEST_F(InboundServerTest, AFullTableAnswers421AndLogsNothingToTheFile) {
    StartServer(2);
    auto a = Greeted();
    auto b = Greeted();
    Timer1();
    TestClient c;
    ASSERT_TRUE(c.Connect(Port()));
    EXPECT_EQ(c.ReadLine(), Text("421 No available sockets remaining."));
    EXPECT_TRUE(c.WaitClosed());
    EXPECT_EQ(install.run.AcceptLock.Value(), 0);   // a refusal uses up no admission
    EXPECT_TRUE(install.WindowTexts().contains("Connection Refused (No Available Socket)"));
    EXPECT_FALSE(install.LogFile().contains("Refused"));
    EXPECT_EQ(install.stats.TotalConnections, 2);
    // The sessions that hold the slots go on.
    EXPECT_EQ(a->Ask("NOOP"), Text("250 OK."));
}

// Three sessions per address; the fourth is refused at once, even while
// the accept lock holds new sessions back, and costs nobody an admission.
TEST_F(InboundServerTest, AnAddressHoldsAtMostThreeSessions) {
    StartServer();
    std::vector<std::unique_ptr<TestClient>> three;
    for (int i = 0; i < 3; ++i) three.push_back(Greeted());
    install.run.AcceptLock.Hold();
    TestClient fourth;
    ASSERT_TRUE(fourth.Connect(Port()));
    EXPECT_EQ(fourth.ReadLine(), Text("421 Too many connections from your address."));
    EXPECT_TRUE(fourth.WaitClosed());
    EXPECT_TRUE(install.WindowTexts().contains("Connection Refused (Too Many Connections From 127.0.0.1)"));
    EXPECT_EQ(install.run.AcceptLock.Value(), 1);
    install.List("maxperip", "0");   // no limit
    TestClient fifth;
    ASSERT_TRUE(fifth.Connect(Port()));
    Timer1();
    EXPECT_TRUE(fifth.ReadLine()->startsWith("220-"));
}

TEST_F(InboundServerTest, ABlockedAddressIsDroppedWithoutAWord) {
    install.List("ipconfig", "10.*.*.*;127.0.*.*");
    StartServer();
    TestClient a;
    ASSERT_TRUE(a.Connect(Port()));
    EXPECT_TRUE(a.WaitClosed());
    EXPECT_EQ(a.ReadFor(0), "");
    EXPECT_EQ(install.stats.BlockedIps, 1);
    EXPECT_FALSE(server->IsActive());
    EXPECT_EQ(install.LogTexts(1), TextList{"Connection Refused (Blocked IP) [127.0.0.1]"});
    EXPECT_EQ(install.WindowTexts(), TextList{"Connection Refused (Blocked IP)"});
}

TEST_F(InboundServerTest, ABlockedAddressFindingTheTableFullIsLoggedUnderSlotZero) {
    // The address rule comes first: no "421", and the refusal is in the file.
    StartServer(1);
    auto a = Greeted();
    install.List("ipconfig", "127.*.*.*");
    Timer1();
    TestClient b;
    ASSERT_TRUE(b.Connect(Port()));
    EXPECT_TRUE(b.WaitClosed());
    EXPECT_EQ(b.ReadFor(0), "");
    EXPECT_EQ(install.stats.BlockedIps, 1);
    EXPECT_EQ(install.LogTexts(0), TextList{"Connection Refused (Blocked IP) [127.0.0.1]"});
    EXPECT_FALSE(install.WindowTexts().contains("Connection Refused (No Available Socket)"));
    EXPECT_EQ(a->Ask("NOOP"), Text("250 OK."));
}

TEST_F(InboundServerTest, WithIpAllowOnlyTheListIsWhoMayConnect) {
    install.settings.IpAllowOnly = 1;
    install.List("ipconfig", "127.0.0.001");
    StartServer();
    EXPECT_TRUE(Greeted());
    install.List("ipconfig", "");
    Timer1();
    TestClient b;
    ASSERT_TRUE(b.Connect(Port()));
    EXPECT_TRUE(b.WaitClosed());
    EXPECT_EQ(install.stats.BlockedIps, 1);
}

TEST_F(InboundServerTest, ASilentSessionIsTimedOutAfterItsIdleTime) {
    StartServer();
    auto client = Greeted();
    now += 120 * 1000 + 999;
    Timer2();
    EXPECT_EQ(client->ReadFor(100), "");
    now += 1;
    Timer2();
    EXPECT_EQ(client->ReadLine(), Text("221 Timeout."));
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_EQ(server->Slot(1).use, SlotUse::Free);
    const TextList log = install.LogTexts(1);
    EXPECT_EQ(log.mid(log.size() - 2), (TextList{"221 Timeout.", "Connection Terminated"}));
    EXPECT_TRUE(install.WindowTexts().contains("[1] 221 Timeout."));
}

TEST_F(InboundServerTest, SupervisionGoesOnWhileTheAcceptLockIsHeld) {
    // Connections arriving every second keep the lock held at almost every
    // tick; the silent sessions must still be timed out and cleared.
    StartServer();
    auto client = Greeted();
    install.run.AcceptLock.Hold();
    now += 121 * 1000;
    Timer2();
    EXPECT_EQ(client->ReadLine(), Text("221 Timeout."));
    Timer2();
    EXPECT_FALSE(server->IsActive());
}

TEST_F(InboundServerTest, DuringDataASlowTransferIsNotCutWhileTextKeepsComing) {
    StartServer();
    auto client = Greeted();
    client->Ask("HELO x");
    client->Ask("MAIL FROM:<a@b>");
    client->Ask("RCPT TO:<postmaster@bbs.example>");
    client->Ask("DATA");
    for (int i = 0; i < 2; ++i) {
        now += 500 * 1000;
        client->Say(Text(1022, 'x'));   // a kilobyte of text is progress
        RunEventsUntil([&] { return server->Slot(1).LastActivity == now; });
        Timer2();
    }
    now += 601 * 1000;
    Timer2();
    EXPECT_EQ(client->ReadLine(), Text("221 Timeout."));
}

// A trickle of bytes is no progress: only complete command lines and
// kilobytes of text restart the idle clock, and no session outlasts its
// time limit, whatever it sends.
TEST_F(InboundServerTest, TricklersTimeOutAndNoSessionOutlastsItsLimit) {
    StartServer();
    auto trickler = Greeted();
    auto talker = Greeted();
    for (int i = 0; i < 2; ++i) {
        now += 61 * 1000;
        trickler->Send("N");
        talker->Say("NOOP");
        EXPECT_EQ(talker->ReadLine(), Text("250 OK."));
        Timer2();
    }
    EXPECT_EQ(trickler->ReadLine(), Text("221 Timeout."));
    for (int minute = 2; minute < 29; ++minute) {   // 29 min 2 s in all
        now += 60 * 1000;
        EXPECT_EQ(talker->Ask("NOOP"), Text("250 OK."));
        Timer2();
    }
    now += 60 * 1000;
    Timer2();
    EXPECT_EQ(talker->ReadLine(), Text("421 Session time limit reached."));
    EXPECT_TRUE(talker->WaitClosed());
}

// A slot whose session ended (QUIT answered, the peer gone) is taken by the
// next connection at once, before any tick, and its closing lines come
// before the next session's first.
TEST_F(InboundServerTest, ASlotThatEndedIsTakenByTheNextConnectionBeforeTheNextTick) {
    install.List("acceptrate", "0");
    StartServer(1);
    auto a = Greeted();
    EXPECT_EQ(a->Ask("QUIT"), Text("221 Have a nice day!"));
    TestClient b;
    ASSERT_TRUE(b.Connect(Port()));
    EXPECT_TRUE(b.ReadLine()->startsWith("220-"));
    b.Close();
    ASSERT_TRUE(RunEventsUntil([&] { return server->Slot(1).use == SlotUse::Free; }));
    EXPECT_EQ(server->GetFreeSocket(), 1);
    TestClient c;
    ASSERT_TRUE(c.Connect(Port()));
    EXPECT_TRUE(c.ReadLine()->startsWith("220-"));
    EXPECT_TRUE(a->WaitClosed());

    TextList connections, sockets;
    for (const Text& line : install.LogTexts(1))
        if (line.startsWith("Connection ")) connections.append(line);
    EXPECT_EQ(connections, (TextList{"Connection Initiated By: 127.0.0.1", "Connection Terminated",
                                     "Connection Initiated By: 127.0.0.1", "Connection Terminated",
                                     "Connection Initiated By: 127.0.0.1"}));
    for (const Text& line : install.WindowTexts())
        if (line.startsWith("Socket ")) sockets.append(line);
    EXPECT_EQ(sockets,
              (TextList{"Socket 1 Started By IP 127.0.0.1", "Socket 1 Closed", "Socket 1 Started By IP 127.0.0.1",
                        "Socket 1 Closed", "Socket 1 Started By IP 127.0.0.1"}));
    EXPECT_EQ(install.stats.TotalConnections, 3);
    for (const Text& line : install.WindowTexts()) EXPECT_FALSE(line.contains("Refused")) << line.constData();
}

TEST_F(InboundServerTest, OtherSessionsAreServedWhileOneWaitsForTheIntake) {
    StartServer();
    saver.answerAtOnce.reset();
    auto a = Greeted();
    auto b = Greeted();
    a->Ask("HELO a");
    a->Ask("MAIL FROM:<a@b>");
    a->Ask("RCPT TO:<postmaster@bbs.example>");
    a->Ask("DATA");
    a->Send("text\r\n.\r\n");
    ASSERT_TRUE(RunEventsUntil([&] { return saver.pending.size() == 1; }));
    a->Say("NOOP");   // heard only once the intake has answered

    EXPECT_EQ(b->Ask("NOOP"), Text("250 OK."));
    now += 3600 * 1000;   // the wait is not the peer's silence
    Timer2();
    EXPECT_EQ(a->ReadFor(100), "");

    saver.pending.takeFirst()(SaveResult::NotSaved);
    EXPECT_EQ(a->ReadLine(), Text("250 Received data (4 bytes). Message was not saved."));
    EXPECT_EQ(a->ReadLine(), Text("250 OK."));
}

TEST_F(InboundServerTest, AnIntakeAnswerForASessionThatEndedGoesNowhere) {
    StartServer();
    saver.answerAtOnce.reset();
    auto a = Greeted();
    a->Ask("HELO a");
    a->Ask("MAIL FROM:<a@b>");
    a->Ask("RCPT TO:<postmaster@bbs.example>");
    a->Ask("DATA");
    a->Send("text\r\n.\r\n");
    ASSERT_TRUE(RunEventsUntil([&] { return saver.pending.size() == 1; }));
    a->Close();
    ASSERT_TRUE(RunEventsUntil([&] { return server->Slot(1).use == SlotUse::Free; }));
    auto b = Greeted();   // a new session in the same slot
    saver.pending.takeFirst()(SaveResult::Saved);
    EXPECT_EQ(b->ReadFor(200), "");
    EXPECT_EQ(b->Ask("NOOP"), Text("250 OK."));
    EXPECT_EQ(saver.messages.size(), 1);
}

TEST_F(InboundServerTest, ALargeMessageArrivesWhole) {
    install.settings.MaxMailSize = 8 * 1024 * 1024;
    StartServer();
    auto client = Greeted();
    client->Ask("HELO x");
    client->Ask("MAIL FROM:<a@b>");
    client->Ask("RCPT TO:<postmaster@bbs.example>");
    client->Ask("DATA");
    Text body;
    for (int i = 0; body.size() < 3 * 1024 * 1024; ++i) body += "line " + Text::number(i) + " of a long message\r\n";
    client->Send(body + ".\r\n");
    const auto reply = client->ReadLine(20000);
    EXPECT_EQ(reply, "250 Received data (" + Text::number(body.size() - 2) + " bytes).");
    ASSERT_EQ(saver.messages.size(), 1);
    EXPECT_TRUE(saver.messages[0].message == body.chopped(2));
}

TEST_F(InboundServerTest, AMessageOverTheLimitEndsTheSession) {
    install.settings.MaxMailSize = 100000;
    StartServer();
    auto client = Greeted();
    client->Ask("HELO x");
    client->Ask("MAIL FROM:<a@b>");
    client->Ask("RCPT TO:<postmaster@bbs.example>");
    client->Ask("DATA");
    client->Send(Text(150000, 'x'));
    EXPECT_EQ(client->ReadLine(), Text("552 Message has exceeded storage allocation. Message aborted."));
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_TRUE(saver.messages.isEmpty());
}

TEST_F(InboundServerTest, ACommandInSeveralSegmentsIsOneCommand) {
    StartServer();
    auto client = Greeted();
    for (const char* piece : {"HE", "LO x", "\r", "\n"}) {
        client->Send(piece);
        RunEventsFor(50);
    }
    EXPECT_EQ(client->ReadLine(), Text("250 Welcome 127.0.0.1, pleased to meet you."));
    // Two writes that the stack may send as one segment.
    client->Socket().write("NO");
    client->Socket().write("OP\r\n");
    EXPECT_EQ(client->ReadLine(), Text("250 OK."));
    EXPECT_EQ(client->ReadFor(100), "");
}

TEST_F(InboundServerTest, AnEndlessCommandLineEndsTheSession) {
    StartServer();
    auto client = Greeted();
    client->Send(Text(70000, 'x'));
    EXPECT_EQ(client->ReadLine(), Text("500 Line too long."));
    EXPECT_TRUE(client->WaitClosed());
}

TEST_F(InboundServerTest, APeerThatDoesNotReadItsRepliesIsNotHeardUntilItDoes) {
    // A mailing list whose expansion is more than the kernel buffers hold
    // (a loopback socket's send buffer grows to 4 MiB).
    Text list = "BIG-LIST";
    for (int i = 0; i < 250000; ++i) list += " member" + Text::number(i) + "@far.example";
    WriteFileText(PathJoin(install.bbs.SpoolDir(), "LISTSERV.LST"), list + "\r\n", false);
    install.settings.AllowExpn = 1;
    StartServer();
    auto client = Greeted();
    client->Socket().setReadBufferSize(1024);   // this client takes little for now
    client->Say("EXPN BIG-LIST");
    ASSERT_TRUE(RunEventsUntil([&] { return install.LogFile().contains("<-- 250 <member249999@far.example>"); }));
    client->Say("NOOP");
    RunEventsFor(500);
    EXPECT_FALSE(install.LogFile().contains("--> NOOP"));   // the replies wait: so does the peer

    client->Socket().setReadBufferSize(0);
    Text received;
    EXPECT_TRUE(RunEventsUntil(
        [&] {
            received += client->ReadFor(20);
            return received.endsWith("250 OK.\r\n");
        },
        20000));
    EXPECT_TRUE(received.contains("250 <member249999@far.example>\r\n"));
}

TEST_F(InboundServerTest, ShutDownClosesEverySessionWithoutAReply) {
    StartServer();
    auto a = Greeted();
    auto b = Greeted();
    server->CloseListener();
    server->CloseAllSessions();
    EXPECT_TRUE(a->WaitClosed());
    EXPECT_TRUE(b->WaitClosed());
    EXPECT_EQ(a->ReadFor(0), "");
    EXPECT_FALSE(server->IsListening());
}

TEST_F(InboundServerTest, APortInUseIsReportedAndTheServerCarriesOn) {
    StartServer();
    server->CloseListener();
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::AnyIPv4, Port()));
    server->OpenListenPort();
    EXPECT_FALSE(server->IsListening());
    EXPECT_EQ(install.boxes,
              TextList{"OSPRINE - Error: The SMTP listen port is being used by another application. port " +
                       NumText(Port()) + ": Address already in use"});
}

TEST_F(InboundServerTest, ReopeningResizesTheTableOnlyWhenNoSessionIsOpen) {
    StartServer(3);
    EXPECT_EQ(server->HighestSlot(), 3);
    auto a = Greeted();
    install.settings.MaxConnections = 5;
    server->OpenListenPort();
    EXPECT_EQ(server->HighestSlot(), 3);
    EXPECT_EQ(a->Ask("NOOP"), Text("250 OK."));
    a->Close();
    ASSERT_TRUE(RunEventsUntil([&] { return server->Slot(1).use == SlotUse::Free; }));
    server->OpenListenPort();
    EXPECT_EQ(server->HighestSlot(), 5);
}

TEST(IpRules, RowsMatchPartByPartAsNumbersOrStars) {
    EXPECT_TRUE(IpRowMatches("192.168.*.*", "192.168.5.7"));
    EXPECT_FALSE(IpRowMatches("192.168.*.*", "10.0.0.1"));
    EXPECT_TRUE(IpRowMatches("010.001.000.*", "10.1.0.99"));
    EXPECT_TRUE(IpRowMatches(" 10 . 1 . 0 . * ", "10.1.0.99"));
    EXPECT_FALSE(IpRowMatches("10.1.0", "10.1.0.99"));
    EXPECT_TRUE(IpRowMatches("*.*.*.*", "1.2.3.4"));
}

}   // namespace
