// The SMTP client against a real upstream server (aiosmtpd) on loopback,
// driven by calling the outbound tick directly.
#include "server/net/Base64.h"
#include "server/outbound/OutboundClient.h"
#include "server/store/Headers.h"
#include "tests/outbound/OutboundFixture.h"
#include "tests/outbound/ScriptedServers.h"
#include <QSignalSpy>
#include <QTcpServer>

namespace {

class ClientTest : public ::testing::Test {
protected:
    ClientTest() : client(b.ctx)
    {
        b.settings.ClientHost = " 127.0.0.1 ";
        OutboundClient::Timeouts t;
        t.replyMs = 1500;   // only the silent server ever waits this long
        t.bodyReplyMs = 1500;
        t.pop3Ms = 3000;
        client.SetTimeouts(t);
    }

    void UseUpstream(quint16 port) { b.settings.ClientPort = int16_t(port); }   // the record keeps 16 bits

    // One outbound tick and the connection it starts, up to the supervision
    // tick that returns the client to idle.
    void RunConnection()
    {
        QSignalSpy ended(&client, &OutboundClient::connectionEnded);
        client.Timer4_Timer();
        ASSERT_TRUE(SpinUntil([&] { return ended.count() > 0; }, 15000)) << "the connection did not end";
        client.SupervisionTick();
        EXPECT_EQ(client.State(), 0);
        EXPECT_FALSE(client.Busy() && !SpinUntil([&] { return !client.Busy(); }, 2000));
    }

    // Lines the upstream server read, without their line ends.
    static TextList Commands(const Upstream& up)
    {
        TextList out;
        for (const Text& line : up.Lines())
            out.append(line.chopped(2));
        return out;
    }

    OutboundBbs b;
    OutboundClient client;
};

const Text kSender = kRemoteSender;

}  // namespace

TEST_F(ClientTest, DeliversEachDueMessageAndDeletesIt)
{
    Upstream up;
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("Far Away <far@remote.example>", "Hello\r\n.dot line\r\n..two dots\r\n.\r\nend\r\n"));
    b.Put("V2.D", QueuedMessage("near@remote.example", "Second"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));

    const TextList commands = Commands(up);
    ASSERT_GE(commands.size(), 12);
    EXPECT_EQ(commands.first(), "EHLO bbs.example");
    EXPECT_EQ(commands[1], "MAIL From:<writer@elsewhere.example>");
    EXPECT_EQ(commands[2], "RCPT To:<far@remote.example>");
    EXPECT_EQ(commands[3], "DATA");
    EXPECT_TRUE(commands.contains("..dot line"));
    EXPECT_TRUE(commands.contains("...two dots"));
    EXPECT_TRUE(commands.contains(".."));
    EXPECT_EQ(commands.count("."), 2);
    EXPECT_TRUE(commands.contains("RCPT To:<near@remote.example>"));
    EXPECT_EQ(commands.last(), "QUIT");
    EXPECT_FALSE(commands.contains("RSET"));

    const QList<Upstream::Message> messages = up.Messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0].mailFrom, kSender);
    EXPECT_EQ(messages[0].rcptTos, QStringList{"far@remote.example"});
    const Text& content = messages[0].content;
    EXPECT_TRUE(content.startsWith("Received: from 127.0.0.1\r\n\tby bbs.example (OSPRINE v1.4.060711)\r\n"));
    EXPECT_TRUE(content.endsWith("\r\n\r\nHello\r\n.dot line\r\n..two dots\r\n.\r\nend\r\n")) << content.constData();
    EXPECT_FALSE(content.contains("X-OSPRINE"));
    EXPECT_TRUE(b.Files().isEmpty());

    const TextList events = b.Events();
    EXPECT_EQ(events.first(), "Processing message file: V1.D");
    EXPECT_EQ(events[1], "Outbound Socket Initiated To: 127.0.0.1");
    EXPECT_EQ(events[2], "[0] --> 220 upstream.test upstream ESMTP");
    EXPECT_EQ(events[3], "[0] <-- EHLO bbs.example");
    EXPECT_EQ(events[4], "[0] --> 250-upstream.test");
    EXPECT_TRUE(events.contains("[0] <-- Sent " + NumText(content.size() - 2 + 3) + " bytes."))
        << "the body as sent: three added dots, no final line end";
    EXPECT_TRUE(events.contains("[0] --> 250 Message accepted for delivery"));
    EXPECT_EQ(events.last(), "Socket 0 Closed");
    EXPECT_EQ(b.stats.TotalConnections, 1);
    EXPECT_EQ(b.stats.TotalOutgoing, 1);
    EXPECT_EQ(b.stats.TotalSent, 2);
    EXPECT_GT(b.stats.KBSent, 0.0f);
    const Text log = ReadFileBytes(b.bbs.Path("OSPRINE.LOG"));
    EXPECT_TRUE(log.contains("     0  <-- EHLO bbs.example\r\n"));
    EXPECT_TRUE(log.contains("     0  Connection Terminated\r\n"));
}

TEST_F(ClientTest, AttachmentLinesCannotEndTheData)
{
    // A line holding only "." in the attachment section would end the data
    // early and turn the rest into commands; it is made transparent too.
    Upstream up;
    UseUpstream(up.Port());
    const Text attachment = "\r\nContent-Type: application/octect-stream\r\n\r\nQUJD\r\n.\r\nRSET\r\n.x\r\n";
    b.Put("V1.D", QueuedMessage("far@remote.example", "see attached") + attachment);
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList lines = Commands(up);
    ASSERT_GE(lines.size(), 7);
    EXPECT_EQ(lines.mid(lines.size() - 7), (TextList{"QUJD", "..", "RSET", "..x", "", ".", "QUIT"}));
    ASSERT_EQ(up.Messages().size(), 1);
    EXPECT_TRUE(up.Messages()[0].content.endsWith("see attached" + attachment + "\r\n"));
}

TEST_F(ClientTest, TemporaryRcptRefusalResetsAndGoesOn)
{
    Upstream up(QJsonObject{{"RCPT", QJsonArray{"451 4.3.0 try again later"}}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("first@remote.example", "one"));
    b.Put("V2.D", QueuedMessage("second@remote.example", "two"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = Commands(up);
    const qsizetype refused = commands.indexOf("RCPT To:<first@remote.example>");
    ASSERT_GE(refused, 0);
    EXPECT_EQ(commands.mid(refused + 1, 3),
              (TextList{"RSET", "MAIL From:<writer@elsewhere.example>", "RCPT To:<second@remote.example>"}));
    EXPECT_EQ(commands.last(), "QUIT");
    ASSERT_EQ(up.Messages().size(), 1);
    EXPECT_EQ(up.Messages()[0].rcptTos, QStringList{"second@remote.example"});
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Attempts", b.Get("V1.D")), "1");
}

TEST_F(ClientTest, TemporaryDataRefusalResetsToo)
{
    Upstream up(QJsonObject{{"DATA", QJsonArray{"451 4.3.0 not now"}}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("first@remote.example", "one"));
    b.Put("V2.D", QueuedMessage("second@remote.example", "two"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = Commands(up);
    const qsizetype refused = commands.indexOf("DATA");
    ASSERT_GE(refused, 0);
    EXPECT_EQ(commands[refused + 1], "RSET");
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
}

TEST_F(ClientTest, RefusedBodyStaysQueuedWithoutReset)
{
    Upstream up(QJsonObject{{"DATA_END", QJsonArray{"452 4.3.1 mailbox full"}}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("first@remote.example", "one"));
    b.Put("V2.D", QueuedMessage("second@remote.example", "two"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_FALSE(Commands(up).contains("RSET"));
    EXPECT_EQ(up.Messages().size(), 1);
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
}

TEST_F(ClientTest, PermanentRcptRefusalReturnsTheMessageAndQuits)
{
    Upstream up(QJsonObject{{"RCPT", QJsonArray{"550 5.1.1 no such user"}}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("nobody@remote.example", "Lost words\r\n"));
    b.Put("V2.D", QueuedMessage("later@remote.example", "waits"));
    const Text waiting = b.Get("V2.D");
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = Commands(up);
    EXPECT_EQ(commands.mid(commands.indexOf("RCPT To:<nobody@remote.example>") + 1), TextList{"QUIT"});

    // The notice was queued under the next free number, then V1.D deleted.
    ASSERT_EQ(b.Files(), (QStringList{"V2.D", "V3.D"}));
    EXPECT_EQ(b.Get("V2.D"), waiting);
    const Text notice = b.Get("V3.D");
    EXPECT_EQ(GetHeaderField("To", notice), kSender);
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Status", notice), "RETURNED");
    EXPECT_TRUE(notice.contains("--- Original Message ---\r\nLost words\r\n"));
}

TEST_F(ClientTest, PermanentEhloRefusalReturnsAndQuits)
{
    Upstream up(QJsonObject{{"EHLO", "502 5.5.1 not here"}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_EQ(Commands(up), (TextList{"EHLO bbs.example", "QUIT"}));
    ASSERT_EQ(b.Files().size(), 1);
    EXPECT_EQ(GetHeaderField("Subject", b.Get(b.Files().first())), "Undeliverable Message");
}

TEST_F(ClientTest, TemporaryEhloRefusalFallsBackToHelo)
{
    Upstream up(QJsonObject{{"EHLO", "421 4.3.2 busy"}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = Commands(up);
    ASSERT_GE(commands.size(), 3);
    EXPECT_EQ(commands.mid(0, 3), (TextList{"EHLO bbs.example", "HELO bbs.example", "MAIL From:<writer@elsewhere.example>"}));
    EXPECT_EQ(up.Messages().size(), 1);
    EXPECT_TRUE(b.Files().isEmpty());
}

TEST_F(ClientTest, AuthLoginSucceeds)
{
    Upstream up(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", "secret pw"}}}});
    UseUpstream(up.Port());
    b.settings.ClientAuth = 1;
    b.settings.AuthUsername = " bob ";
    b.settings.AuthPassword = "secret pw";
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = Commands(up);
    ASSERT_GE(commands.size(), 5);
    EXPECT_EQ(commands.mid(1, 4), (TextList{"AUTH LOGIN", "Ym9i", "c2VjcmV0IHB3", "MAIL From:<writer@elsewhere.example>"}));
    EXPECT_EQ(up.Messages().size(), 1);
    const TextList events = b.Events();
    EXPECT_TRUE(events.contains("[0] Username Sent."));
    EXPECT_TRUE(events.contains("[0] Password Sent."));
    EXPECT_TRUE(events.contains("[0] Authentication successful."));
    for (const Text& e : events)
        EXPECT_FALSE(e.contains("Ym9i") || e.contains("c2VjcmV0IHB3")) << e.constData();
    EXPECT_FALSE(ReadFileBytes(b.bbs.Path("OSPRINE.LOG")).contains("c2VjcmV0IHB3"));
}

TEST_F(ClientTest, LongCredentialsTravelOnOneLineEach)
{
    const Text password(70, 'p');   // its Base64 form is longer than one encoded line
    Upstream up(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", QString::fromLatin1(password)}}}});
    UseUpstream(up.Port());
    b.settings.ClientAuth = 1;
    b.settings.AuthUsername = "bob";
    b.settings.AuthPassword = password;
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_TRUE(Commands(up).contains(clsBase64::Encode(password).replace("\r\n", "")));
    EXPECT_TRUE(b.Events().contains("[0] Authentication successful."));
}

TEST_F(ClientTest, AuthLoginTemporaryFailureGoesOnWithoutIt)
{
    Upstream up(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", "right"},
                                                 {"failure", "454 4.7.0 Temporary authentication failure"}}}});
    UseUpstream(up.Port());
    b.settings.ClientAuth = 1;
    b.settings.AuthUsername = "bob";
    b.settings.AuthPassword = "wrong";
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_TRUE(b.Events().contains("[0] Authentication failed."));
    EXPECT_TRUE(Commands(up).contains("MAIL From:<writer@elsewhere.example>"));
    EXPECT_EQ(up.Messages().size(), 1);
}

TEST_F(ClientTest, AuthLoginRefusedReturnsTheMessage)
{
    Upstream up(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", "right"}}}});
    UseUpstream(up.Port());
    b.settings.ClientAuth = 1;
    b.settings.AuthUsername = "bob";
    b.settings.AuthPassword = "wrong";
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_TRUE(b.Events().contains("[0] --> 535 5.7.8 Authentication credentials invalid"));
    EXPECT_FALSE(Commands(up).contains("MAIL From:<writer@elsewhere.example>"));
    ASSERT_EQ(b.Files().size(), 1);
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Status", b.Get(b.Files().first())), "RETURNED");
}

TEST_F(ClientTest, NoAuthWithoutAPassword)
{
    Upstream up(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", "pw"}}}});
    UseUpstream(up.Port());
    b.settings.ClientAuth = 1;
    b.settings.AuthUsername = "bob";
    b.settings.AuthPassword = "   ";
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_EQ(Commands(up)[1], "MAIL From:<writer@elsewhere.example>");
}

TEST_F(ClientTest, ReturnNoticeTravelsWithAnEmptyReversePath)
{
    Upstream up;
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "notice", "X-OSPRINE-Status:  returned \r\n"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_EQ(Commands(up)[1], "MAIL From:<>");
    ASSERT_EQ(up.Messages().size(), 1);
    EXPECT_EQ(up.Messages()[0].mailFrom, "<>");
    EXPECT_FALSE(up.Messages()[0].content.contains("X-OSPRINE"));
}

TEST_F(ClientTest, RefusedReturnNoticeDisappears)
{
    Upstream up(QJsonObject{{"RCPT", "550 5.1.1 unknown"}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "notice", "X-OSPRINE-Status: RETURNED\r\n"));
    RunConnection();
    EXPECT_TRUE(b.Files().isEmpty());
}

TEST_F(ClientTest, SilentServerIsTimedOut)
{
    Upstream up(QJsonObject{{"silent", true}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    EXPECT_TRUE(b.Events().contains("SMTP server did not reply in time."));
    EXPECT_TRUE(up.Lines().isEmpty());
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Attempts", b.Get("V1.D")), "1");
    EXPECT_EQ(b.stats.TotalOutgoing, 1);
}

TEST_F(ClientTest, UnreachableServerIsReported)
{
    QTcpServer probe;   // a port on which nothing listens any more
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    UseUpstream(port);
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    EXPECT_TRUE(b.Events().contains("SMTP server host did not respond."));
    EXPECT_EQ(b.stats.TotalOutgoing, 0);
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
}

TEST_F(ClientTest, ASecondTickDuringAConnectionDoesNothing)
{
    Upstream up;
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    QSignalSpy ended(&client, &OutboundClient::connectionEnded);
    client.Timer4_Timer();
    EXPECT_TRUE(client.Busy());
    client.Timer4_Timer();
    ASSERT_TRUE(SpinUntil([&] { return ended.count() > 0; }, 15000));
    client.Timer4_Timer();   // ended, but not yet reset by the supervision tick
    client.SupervisionTick();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_EQ(Commands(up).count("EHLO bbs.example"), 1);
    EXPECT_EQ(b.stats.TotalOutgoing, 1);
}

TEST_F(ClientTest, NoTickWhileClosingOrWithoutHost)
{
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    b.settings.ClientPort = 25;
    b.settings.ClientHost = "  ";
    client.Timer4_Timer();
    EXPECT_FALSE(client.Busy());
    b.settings.ClientHost = "127.0.0.1";
    b.run.ServerState = -1;
    client.Timer4_Timer();
    EXPECT_FALSE(client.Busy());
    EXPECT_TRUE(b.Events().isEmpty());
    EXPECT_EQ(b.Get("V1.D").count("X-OSPRINE"), 0);
}

TEST_F(ClientTest, PopBeforeSmtpLogsInFirst)
{
    Pop3Server pop;
    Upstream up;
    UseUpstream(up.Port());
    b.settings.Pop3Before = 1;
    b.settings.Pop3Host = " 127.0.0.1 ";
    b.settings.Pop3Port = int16_t(pop.Port());
    b.settings.Pop3Username = " bob ";
    b.settings.Pop3Password = "pop pw";
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    EXPECT_EQ(pop.Received(), "USER bob\r\nPASS pop pw\r\nQUIT\r\n");
    EXPECT_EQ(up.Messages().size(), 1);
    for (const Text& e : b.Events())
        EXPECT_FALSE(e.contains("USER") || e.contains("PASS") || e.contains("+OK")) << e.constData();
}

TEST_F(ClientTest, PopLoginThatFailsDoesNotHoldDelivery)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    Upstream up;
    UseUpstream(up.Port());
    b.settings.Pop3Before = 1;
    b.settings.Pop3Host = "127.0.0.1";
    b.settings.Pop3Port = int16_t(closedPort);
    b.settings.Pop3Username = "bob";
    b.settings.Pop3Password = "pw";
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    EXPECT_EQ(up.Messages().size(), 1);
}
