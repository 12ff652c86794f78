// The SMTP client against a real upstream server (aiosmtpd) on loopback,
// driven by calling the outbound tick directly.
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include "server/net/Base64.h"
#include "server/outbound/OutboundClient.h"
#include "server/store/Dates.h"
#include "server/store/Headers.h"
#include "server/store/KeyedList.h"
#include "tests/outbound/OutboundFixture.h"
#include "tests/outbound/ScriptedServers.h"

namespace {

class ClientTest : public ::testing::Test {
protected:
    ClientTest() : client(b.ctx) {
        b.settings.ClientHost = " 127.0.0.1 ";
        OutboundClient::Timeouts t;
        t.replyMs = 1500;   // only the silent server ever waits this long
        t.bodyReplyMs = 1500;
        t.pop3Ms = 3000;
        client.SetTimeouts(t);
    }

    void SetUp() override { ASSERT_TRUE(b.Ready()) << "the test installation did not load"; }

    void UseUpstream(quint16 port) { b.settings.ClientPort = int16_t(port); }   // the record keeps 16 bits

    // POP3 before SMTP against the given server and account.
    void UsePop3(const Text& host, quint16 port, const Text& user, const Text& password) {
        b.settings.Pop3Before = 1;
        b.settings.Pop3Host = host;
        b.settings.Pop3Port = int16_t(port);
        b.settings.Pop3Username = user;
        b.settings.Pop3Password = password;
    }

    // The sysop's choice for servers without TLS: credentials in clear text.
    void AllowClearText() {
        PutData("clienttls", "none", b.ctx.KeyedList());
        PutData("pop3tls", "none", b.ctx.KeyedList());
    }

    // One outbound tick and the connection it starts, up to the supervision
    // tick that returns the client to idle.
    void RunConnection() {
        QSignalSpy ended(&client, &OutboundClient::connectionEnded);
        client.Timer4_Timer();
        ASSERT_TRUE(SpinUntil([&] { return ended.count() > 0; }, 15000)) << "the connection did not end";
        client.SupervisionTick();
        EXPECT_EQ(client.State(), 0);
        EXPECT_FALSE(client.Busy() && !SpinUntil([&] { return !client.Busy(); }, 2000));
    }

    OutboundBbs b;
    OutboundClient client;
};

const Text kSender = kRemoteSender;

// A hand-scripted upstream server in this process, for what aiosmtpd cannot
// stage: replies split over several arrivals, lines that are no replies,
// refused greetings. Each reply is a list of chunks written 150 ms apart, so
// that each arrives on its own.
class RawUpstream {
public:
    // The chunks that answer a line of the client (the message data is
    // answered once, at its final ".").
    using Script = std::function<TextList(const Text& line)>;

    // With `slowReadBytes`, the server reads at most that many bytes every
    // 50 ms, like one at the end of a slow line.
    RawUpstream(TextList greeting, Script script, qint64 slowReadBytes = 0) : script_(std::move(script)) {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost));
        QObject::connect(&server_, &QTcpServer::newConnection, [this, greeting, slowReadBytes] {
            peer_ = server_.nextPendingConnection();
            if (slowReadBytes > 0) {
                peer_->setReadBufferSize(slowReadBytes);
                // A small window, so that the kernel does not take it all at once.
                peer_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
                auto* pace = new QTimer(peer_);
                QObject::connect(pace, &QTimer::timeout, [this, slowReadBytes] { Read(slowReadBytes); });
                pace->start(50);
            } else {
                QObject::connect(peer_, &QTcpSocket::readyRead, [this] { Read(); });
            }
            Send(greeting);
        });
    }
    quint16 Port() const { return server_.serverPort(); }
    // Every line read, without its CR LF.
    const TextList& Lines() const { return lines_; }
    // The message data as read, between DATA and the final ".".
    Text Data() const {
        const qsizetype from = lines_.indexOf("DATA"), to = lines_.indexOf(".");
        return from >= 0 && to > from ? lines_.mid(from + 1, to - from - 1).join("\r\n") + "\r\n" : Text();
    }

private:
    void Read(qint64 most = -1) {
        buffer_ += most < 0 ? peer_->readAll() : peer_->read(most);
        qsizetype start = 0;
        for (qsizetype end; (end = buffer_.indexOf("\r\n", start)) >= 0;) {
            const Text line = buffer_.mid(start, end - start);
            start = end + 2;
            lines_.append(line);
            if (inData_ && line != ".") continue;
            inData_ = false;
            const TextList reply = script_(line);
            inData_ = !reply.isEmpty() && reply.last().startsWith("354");
            Send(reply);
        }
        buffer_.remove(0, start);
    }
    void Send(const TextList& chunks) {
        int delay = 0;
        for (const Text& chunk : chunks) {
            QTimer::singleShot(delay, peer_, [peer = peer_, chunk] { peer->write(chunk); });
            delay += 150;
        }
    }

    QTcpServer server_;
    QTcpSocket* peer_ = nullptr;
    Script script_;
    Text buffer_;
    TextList lines_;
    bool inData_ = false;
};

// The usual answers of an upstream server that takes everything.
TextList Accepting(const Text& line) {
    const Text command = line.left(4).toUpper();
    if (command == "EHLO") return {"250 hello\r\n"};
    if (command == "MAIL" || command == "RCPT") return {"250 ok\r\n"};
    if (command == "DATA") return {"354 go ahead\r\n"};
    if (line == ".") return {"250 done\r\n"};
    if (command == "QUIT") return {"221 bye\r\n"};
    return {"500 what\r\n"};
}

}   // namespace

TEST_F(ClientTest, DeliversEachDueMessageAndDeletesIt) {
    Upstream up;
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("Far Away <far@remote.example>", "Hello\r\n.dot line\r\n..two dots\r\n.\r\nend\r\n"));
    b.Put("V2.D", QueuedMessage("near@remote.example", "Second"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));

    const TextList commands = up.Commands();
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

TEST_F(ClientTest, AttachmentLinesCannotEndTheData) {
    // A line holding only "." in the attachment section would end the data
    // early and turn the rest into commands; it is made transparent too.
    Upstream up;
    UseUpstream(up.Port());
    const Text attachment = "\r\nContent-Type: application/octect-stream\r\n\r\nQUJD\r\n.\r\nRSET\r\n.x\r\n";
    b.Put("V1.D", QueuedMessage("far@remote.example", "see attached") + attachment);
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList lines = up.Commands();
    ASSERT_GE(lines.size(), 7);
    EXPECT_EQ(lines.mid(lines.size() - 7), (TextList{"QUJD", "..", "RSET", "..x", "", ".", "QUIT"}));
    ASSERT_EQ(up.Messages().size(), 1);
    EXPECT_TRUE(up.Messages()[0].content.endsWith("see attached" + attachment + "\r\n"));
}

TEST_F(ClientTest, TemporaryRcptRefusalResetsAndGoesOn) {
    Upstream up(QJsonObject{{"RCPT", QJsonArray{"451 4.3.0 try again later"}}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("first@remote.example", "one"));
    b.Put("V2.D", QueuedMessage("second@remote.example", "two"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = up.Commands();
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

TEST_F(ClientTest, TemporaryDataRefusalResetsToo) {
    Upstream up(QJsonObject{{"DATA", QJsonArray{"451 4.3.0 not now"}}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("first@remote.example", "one"));
    b.Put("V2.D", QueuedMessage("second@remote.example", "two"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = up.Commands();
    const qsizetype refused = commands.indexOf("DATA");
    ASSERT_GE(refused, 0);
    EXPECT_EQ(commands[refused + 1], "RSET");
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
}

TEST_F(ClientTest, RefusedBodyStaysQueuedWithoutReset) {
    Upstream up(QJsonObject{{"DATA_END", QJsonArray{"452 4.3.1 mailbox full"}}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("first@remote.example", "one"));
    b.Put("V2.D", QueuedMessage("second@remote.example", "two"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_FALSE(up.Commands().contains("RSET"));
    EXPECT_EQ(up.Messages().size(), 1);
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
}

TEST_F(ClientTest, PermanentRcptRefusalReturnsTheMessageAndQuits) {
    Upstream up(QJsonObject{{"RCPT", QJsonArray{"550 5.1.1 no such user"}}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("nobody@remote.example", "Lost words\r\n"));
    b.Put("V2.D", QueuedMessage("later@remote.example", "waits"));
    const Text waiting = b.Get("V2.D");
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = up.Commands();
    EXPECT_EQ(commands.mid(commands.indexOf("RCPT To:<nobody@remote.example>") + 1), TextList{"QUIT"});

    // The notice was queued under the next free number, then V1.D deleted.
    ASSERT_EQ(b.Files(), (QStringList{"V2.D", "V3.D"}));
    EXPECT_EQ(b.Get("V2.D"), waiting);
    const Text notice = b.Get("V3.D");
    EXPECT_EQ(GetHeaderField("To", notice), kSender);
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Status", notice), "RETURNED");
    EXPECT_TRUE(notice.contains("--- Original Message ---\r\nLost words\r\n"));
}

// Servers that know only RFC 821 refuse EHLO, some with a 5xx.
TEST_F(ClientTest, RefusedEhloFallsBackToHelo) {
    for (const char* refusal : {"421 4.3.2 busy", "502 5.5.1 not here"}) {
        Upstream up(QJsonObject{{"EHLO", refusal}});
        UseUpstream(up.Port());
        b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
        const TextList commands = up.Commands();
        ASSERT_GE(commands.size(), 3);
        EXPECT_EQ(commands.mid(0, 3),
                  (TextList{"EHLO bbs.example", "HELO bbs.example", "MAIL From:<writer@elsewhere.example>"}));
        EXPECT_EQ(up.Messages().size(), 1) << refusal;
        EXPECT_TRUE(b.Files().isEmpty());
    }
}

// A refusal of the session (greeting, credentials, "TLS or authentication
// required") is no verdict on the message: it stays queued, its attempt
// counted, and the event window and error log say what the upstream answered.
TEST_F(ClientTest, SessionRefusalsKeepTheQueue) {
    const auto expectQueuedAfter = [this](const Text& reply) {
        EXPECT_EQ(b.Files(), QStringList{"V1.D"}) << reply.constData();
        EXPECT_EQ(GetHeaderField("X-OSPRINE-Attempts", b.Get("V1.D")), "1");
        const Text report = "Upstream server refused the session: " + reply + "; the messages stay queued.";
        EXPECT_TRUE(b.Events().contains(report)) << b.Events().join("\n").constData();
        EXPECT_TRUE(ReadFileBytes("ZRVERROR.LOG").contains(" SendOutbound - " + report));
        ASSERT_TRUE(QFile::remove(b.QueuePath("V1.D")));
        b.events.clear();
    };
    {
        RawUpstream up({"554 no service here\r\n"}, Accepting);
        UseUpstream(up.Port());
        b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        ASSERT_TRUE(SpinUntil([&] { return up.Lines().contains("QUIT"); }, 5000));
        EXPECT_EQ(up.Lines(), TextList{"QUIT"});
        expectQueuedAfter("554 no service here");
    }
    {
        RawUpstream up({"220 hi\r\n"}, [](const Text& line) -> TextList {
            return line.startsWith("MAIL") ? TextList{"530 5.7.0 Must issue a STARTTLS command first\r\n"}
                                           : Accepting(line);
        });
        UseUpstream(up.Port());
        b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        ASSERT_TRUE(SpinUntil([&] { return up.Lines().contains("QUIT"); }, 5000));
        EXPECT_FALSE(up.Lines().contains("RCPT To:<far@remote.example>"));
        expectQueuedAfter("530 5.7.0 Must issue a STARTTLS command first");
    }
    {
        Upstream up(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", "right"}}}});
        UseUpstream(up.Port());
        AllowClearText();
        b.settings.ClientAuth = 1;
        b.settings.AuthUsername = "bob";
        b.settings.AuthPassword = "wrong";
        b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
        EXPECT_FALSE(up.Commands().contains("MAIL From:<writer@elsewhere.example>"));
        EXPECT_TRUE(b.Events().contains("[0] Authentication failed."));
        expectQueuedAfter("535 5.7.8 Authentication credentials invalid");
    }
}
TEST_F(ClientTest, AuthLoginSucceeds) {
    Upstream up(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", "secret pw"}}}});
    UseUpstream(up.Port());
    AllowClearText();
    b.settings.ClientAuth = 1;
    b.settings.AuthUsername = " bob ";
    b.settings.AuthPassword = "secret pw";
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = up.Commands();
    ASSERT_GE(commands.size(), 5);
    EXPECT_EQ(commands.mid(1, 4),
              (TextList{"AUTH LOGIN", "Ym9i", "c2VjcmV0IHB3", "MAIL From:<writer@elsewhere.example>"}));
    EXPECT_EQ(up.Messages().size(), 1);
    const TextList events = b.Events();
    EXPECT_TRUE(events.contains("[0] Username Sent."));
    EXPECT_TRUE(events.contains("[0] Password Sent."));
    EXPECT_TRUE(events.contains("[0] Authentication successful."));
    const TextList log = b.LogTexts();
    const qsizetype auth = log.indexOf("<-- AUTH LOGIN");
    ASSERT_GE(auth, 0);
    EXPECT_EQ(log.mid(auth, 6),
              (TextList{"<-- AUTH LOGIN", "--> 334 VXNlciBOYW1lAA==", "Username Sent.", "--> 334 UGFzc3dvcmQA",
                        "Password Sent.", "--> 235 2.7.0 Authentication successful"}));
    EXPECT_EQ(log[auth + 6], "Authentication successful.");
    EXPECT_EQ(log[auth + 7], "<-- MAIL From:<writer@elsewhere.example>");
    for (const Text& e : events) EXPECT_FALSE(e.contains("Ym9i") || e.contains("c2VjcmV0IHB3")) << e.constData();
    EXPECT_FALSE(ReadFileBytes(b.bbs.Path("OSPRINE.LOG")).contains("c2VjcmV0IHB3"));
}

TEST_F(ClientTest, LongCredentialsTravelOnOneLineEach) {
    const Text password(70, 'p');   // its Base64 form is longer than one encoded line
    Upstream up(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", QString::fromLatin1(password)}}}});
    UseUpstream(up.Port());
    AllowClearText();
    b.settings.ClientAuth = 1;
    b.settings.AuthUsername = "bob";
    b.settings.AuthPassword = password;
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_TRUE(up.Commands().contains(clsBase64::Encode(password).replace("\r\n", "")));
    EXPECT_TRUE(b.Events().contains("[0] Authentication successful."));
}

TEST_F(ClientTest, AuthLoginTemporaryFailureGoesOnWithoutIt) {
    Upstream up(QJsonObject{{"auth", QJsonObject{{"user", "bob"},
                                                 {"password", "right"},
                                                 {"failure", "454 4.7.0 Temporary authentication failure"}}}});
    UseUpstream(up.Port());
    AllowClearText();
    b.settings.ClientAuth = 1;
    b.settings.AuthUsername = "bob";
    b.settings.AuthPassword = "wrong";
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_TRUE(b.Events().contains("[0] Authentication failed."));
    const TextList log = b.LogTexts();
    const qsizetype failed = log.indexOf("Authentication failed.");
    ASSERT_GE(failed, 1);
    EXPECT_EQ(log[failed - 1], "--> 454 4.7.0 Temporary authentication failure");
    EXPECT_EQ(log[failed + 1], "<-- MAIL From:<writer@elsewhere.example>");
    EXPECT_TRUE(up.Commands().contains("MAIL From:<writer@elsewhere.example>"));
    EXPECT_EQ(up.Messages().size(), 1);
}

TEST_F(ClientTest, NoAuthWithoutAPassword) {
    Upstream up(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", "pw"}}}});
    UseUpstream(up.Port());
    b.settings.ClientAuth = 1;
    b.settings.AuthUsername = "bob";
    b.settings.AuthPassword = "   ";
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_EQ(up.Commands()[1], "MAIL From:<writer@elsewhere.example>");
}

TEST_F(ClientTest, ReturnNoticeTravelsWithAnEmptyReversePath) {
    Upstream up;
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "notice", "X-OSPRINE-Status:  returned \r\n"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_EQ(up.Commands()[1], "MAIL From:<>");
    ASSERT_EQ(up.Messages().size(), 1);
    EXPECT_EQ(up.Messages()[0].mailFrom, "<>");
    EXPECT_FALSE(up.Messages()[0].content.contains("X-OSPRINE"));
}

TEST_F(ClientTest, RefusedReturnNoticeDisappears) {
    Upstream up(QJsonObject{{"RCPT", "550 5.1.1 unknown"}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "notice", "X-OSPRINE-Status: RETURNED\r\n"));
    RunConnection();
    EXPECT_TRUE(b.Files().isEmpty());
}

TEST_F(ClientTest, SilentServerIsTimedOut) {
    Upstream up(QJsonObject{{"silent", true}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    EXPECT_TRUE(b.Events().contains("SMTP server did not reply in time."));
    EXPECT_TRUE(up.Lines().isEmpty());
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Attempts", b.Get("V1.D")), "1");
    EXPECT_EQ(b.stats.TotalOutgoing, 1);
}

TEST_F(ClientTest, UnreachableServerIsReported) {
    QTcpServer probe;   // a port on which nothing listens any more
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    UseUpstream(port);
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    EXPECT_EQ(b.Events(), (TextList{"Processing message file: V1.D", "Outbound Socket Initiated To: 127.0.0.1",
                                    "SMTP server host did not respond.", "Socket 0 Closed"}));
    EXPECT_EQ(b.LogTexts(), (TextList{"Processing message file: V1.D", "Outbound Socket Initiated To: 127.0.0.1",
                                      "SMTP server host did not respond.", "Connection Terminated"}));
    EXPECT_EQ(b.stats.TotalOutgoing, 0);
    EXPECT_EQ(b.stats.TotalConnections, 0);
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
}

TEST_F(ClientTest, ASecondTickDuringAConnectionDoesNothing) {
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
    EXPECT_EQ(up.Commands().count("EHLO bbs.example"), 1);
    EXPECT_EQ(b.stats.TotalOutgoing, 1);
}

TEST_F(ClientTest, NoTickWhileClosingOrWithoutHost) {
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    b.settings.ClientPort = 25;
    b.settings.ClientHost = "  ";
    client.Timer4_Timer();
    EXPECT_FALSE(client.Busy());
    b.settings.ClientHost = "127.0.0.1";
    b.run.ServerState = ServerPhase::Closing;
    client.Timer4_Timer();
    EXPECT_FALSE(client.Busy());
    EXPECT_TRUE(b.Events().isEmpty());
    EXPECT_EQ(b.Get("V1.D").count("X-OSPRINE"), 0);
}

TEST_F(ClientTest, PopBeforeSmtpLogsInFirst) {
    Upstream up;
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    {
        // "auto": CAPA asks whether the server offers STLS; this one does not,
        // so the password stays here and so does the queue.
        Pop3Server pop;
        UsePop3(" 127.0.0.1 ", pop.Port(), " bob ", "pop pw");
        const Text refusal =
            "POP3 log-in failed: POP3 server 127.0.0.1 does not offer STLS; the password is not sent without TLS. "
            "If that server has no TLS, \"osprinectl config pop3tls=none\" allows clear text";
        client.Timer4_Timer();   // no SMTP connection follows the refused log-in
        ASSERT_TRUE(SpinUntil([&] { return b.Events().contains(refusal); }, 10000))
            << b.Events().join("\n").constData();
        EXPECT_TRUE(ReadFileBytes("ZRVERROR.LOG").contains(" SendOutbound - " + refusal));
        EXPECT_FALSE(client.Busy());
        EXPECT_EQ(pop.Received(), "CAPA\r\n");
        EXPECT_TRUE(up.Commands().isEmpty());
        EXPECT_EQ(b.Files(), QStringList{"V1.D"});
        b.events.clear();
    }
    Pop3Server pop;
    UsePop3(" 127.0.0.1 ", pop.Port(), " bob ", "pop pw");
    AllowClearText();
    RunConnection();
    EXPECT_EQ(pop.Received(), "USER bob\r\nPASS pop pw\r\nQUIT\r\n");
    EXPECT_EQ(up.Messages().size(), 1);
    for (const Text& e : b.Events())
        EXPECT_FALSE(e.contains("USER") || e.contains("PASS") || e.contains("+OK")) << e.constData();
    const TextList log = b.LogTexts();
    EXPECT_EQ(log.mid(log.indexOf("Processing message file: V1.D"), 3),
              (TextList{"Processing message file: V1.D", "Outbound Socket Initiated To: 127.0.0.1",
                        "--> 220 upstream.test upstream ESMTP"}));
    EXPECT_FALSE(ReadFileBytes(b.bbs.Path("OSPRINE.LOG")).contains("pop pw"));
}

TEST_F(ClientTest, PopLoginThatFailsDoesNotHoldDelivery) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    Upstream up;
    UseUpstream(up.Port());
    UsePop3("127.0.0.1", closedPort, "bob", "pw");
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    EXPECT_EQ(up.Messages().size(), 1);
}

TEST_F(ClientTest, EveryLineOfADialogueIsShownAndLogged) {
    // The greeting in two pieces, a line that is no reply, and a multi-line
    // reply spread over arrivals, judged by its first line.
    RawUpstream up({"22", "0 split greeting\r\n"}, [](const Text& line) -> TextList {
        if (line.startsWith("EHLO")) return {"this is no reply\r\n", "250-first\r\n250-sec", "ond\r\n250 last\r\n"};
        return Accepting(line);
    });
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("Far Away <far@remote.example>", "Hello\r\n.dot line\r\n"));
    RunConnection();
    ASSERT_TRUE(SpinUntil([&] { return up.Lines().contains("QUIT"); }, 5000));

    // The message as it travels: the trace header from the first
    // preparation, the Date with the local zone, no tracking headers, the
    // added dot, the end mark.
    const Text data = up.Data();
    const QRegularExpression received(
        "^Received: from 127\\.0\\.0\\.1\r\n\tby bbs\\.example \\(OSPRINE v1\\.4\\.060711\\)\r\n"
        "\tfor <far@remote\\.example>; [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} "
        "\\d\\d:\\d\\d:\\d\\d [+-]\\d{4}\r\n");
    const QRegularExpressionMatch trace = received.match(QString::fromLatin1(data));
    ASSERT_TRUE(trace.hasMatch()) << data.constData();
    const Text zone = GetTimeZoneOffset(QDateTime::currentDateTime());
    EXPECT_EQ(data.mid(trace.capturedLength()),
              "From: Writer <writer@elsewhere.example>\r\nTo: Far Away <far@remote.example>\r\nSubject: Test\r\n"
              "Date: Tue, 11 Jul 2006 19:35:37 " +
                  zone + "\r\n\r\nHello\r\n..dot line\r\n");
    EXPECT_EQ(up.Lines().mid(0, 4), (TextList{"EHLO bbs.example", "MAIL From:<writer@elsewhere.example>",
                                              "RCPT To:<far@remote.example>", "DATA"}));
    EXPECT_EQ(up.Lines().mid(up.Lines().size() - 2), (TextList{".", "QUIT"}));

    const Text sent = "Sent " + NumText(data.size() - 2) + " bytes.";
    EXPECT_EQ(b.Events(), (TextList{"Processing message file: V1.D", "Outbound Socket Initiated To: 127.0.0.1",
                                    "[0] --> 220 split greeting", "[0] <-- EHLO bbs.example", "[0] --> 250-first",
                                    "[0] <-- MAIL From:<writer@elsewhere.example>", "[0] --> 250 ok",
                                    "[0] <-- RCPT To:<far@remote.example>", "[0] --> 250 ok", "[0] <-- DATA",
                                    "[0] --> 354 go ahead", "[0] <-- " + sent, "[0] --> 250 done", "[0] <-- QUIT",
                                    "Socket 0 Closed"}));
    EXPECT_EQ(b.LogTexts(), (TextList{"Processing message file: V1.D", "Outbound Socket Initiated To: 127.0.0.1",
                                      "--> 220 split greeting", "<-- EHLO bbs.example", "--> 250-first",
                                      "<-- MAIL From:<writer@elsewhere.example>", "--> 250 ok",
                                      "<-- RCPT To:<far@remote.example>", "--> 250 ok", "<-- DATA", "--> 354 go ahead",
                                      "<-- " + sent, "--> 250 done", "<-- QUIT", "Connection Terminated"}));
    EXPECT_TRUE(b.Files().isEmpty());
    EXPECT_EQ(b.stats.TotalSent, 1);
    EXPECT_FLOAT_EQ(b.stats.KBSent, float(data.size() - 2) / 1024.0f);
}

TEST_F(ClientTest, RefusedGreetingQuits) {
    RawUpstream up({"421 too busy\r\n"}, Accepting);
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(SpinUntil([&] { return up.Lines().contains("QUIT"); }, 5000));
    EXPECT_EQ(up.Lines(), TextList{"QUIT"});
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Attempts", b.Get("V1.D")), "1");
}

TEST_F(ClientTest, RefusedHeloQuits) {
    RawUpstream up({"220 hi\r\n"}, [](const Text& line) -> TextList {
        if (line.startsWith("EHLO") || line.startsWith("HELO")) return {"421 not now\r\n"};
        return Accepting(line);
    });
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(SpinUntil([&] { return up.Lines().contains("QUIT"); }, 5000));
    EXPECT_EQ(up.Lines(), (TextList{"EHLO bbs.example", "HELO bbs.example", "QUIT"}));
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
}

TEST_F(ClientTest, PermanentBodyRefusalReturnsTheMessage) {
    Upstream up(QJsonObject{{"DATA_END", "554 5.6.0 content rejected"}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", "Refused words\r\n"));
    b.Put("V2.D", QueuedMessage("later@remote.example", "waits"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_EQ(up.Commands().last(), "QUIT");
    EXPECT_EQ(up.Commands().count("DATA"), 1);
    ASSERT_EQ(b.Files(), (QStringList{"V2.D", "V3.D"}));
    EXPECT_TRUE(b.Get("V3.D").contains("--- Original Message ---\r\nRefused words\r\n"));
}

TEST_F(ClientTest, TemporaryMailRefusalGoesOnWithoutReset) {
    Upstream up(QJsonObject{{"MAIL", QJsonArray{"451 4.3.0 later"}}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("first@remote.example", "one"));
    b.Put("V2.D", QueuedMessage("second@remote.example", "two"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = up.Commands();
    ASSERT_GE(commands.size(), 3);
    EXPECT_EQ(commands.mid(0, 3), (TextList{"EHLO bbs.example", "MAIL From:<writer@elsewhere.example>",
                                            "MAIL From:<writer@elsewhere.example>"}));
    EXPECT_FALSE(commands.contains("RSET"));
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
}

TEST_F(ClientTest, RefusedAuthStepsGoOnWithoutAuthentication) {
    AllowClearText();
    b.settings.ClientAuth = 1;
    b.settings.AuthUsername = "bob";
    b.settings.AuthPassword = "pw";
    for (const bool refuseUser : {false, true}) {
        b.events.clear();
        RawUpstream up({"220 hi\r\n"}, [refuseUser](const Text& line) -> TextList {
            if (line == "AUTH LOGIN") return {refuseUser ? "334 VXNlcm5hbWU6\r\n" : "454 4.7.0 not now\r\n"};
            if (line == "Ym9i") return {"454 4.7.0 not now\r\n"};
            return Accepting(line);
        });
        UseUpstream(up.Port());
        b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        ASSERT_TRUE(SpinUntil([&] { return up.Lines().contains("QUIT"); }, 5000));
        const TextList expected =
            refuseUser ? TextList{"EHLO bbs.example", "AUTH LOGIN", "Ym9i", "MAIL From:<writer@elsewhere.example>"}
                       : TextList{"EHLO bbs.example", "AUTH LOGIN", "MAIL From:<writer@elsewhere.example>"};
        EXPECT_EQ(up.Lines().mid(0, expected.size()), expected);
        EXPECT_EQ(b.Events().contains("[0] Username Sent."), refuseUser);
        EXPECT_FALSE(b.Events().contains("[0] Password Sent."));
        EXPECT_TRUE(b.Files().isEmpty()) << "delivered without authentication";
    }
}

TEST_F(ClientTest, EveryAttemptSendsTheSameTransparentBody) {
    Upstream up(QJsonObject{{"DATA_END", QJsonArray{"451 4.3.0 later"}}});
    UseUpstream(up.Port());
    b.Put("V1.D", QueuedMessage("far@remote.example", ".dot line\r\n"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    EXPECT_TRUE(b.Get("V1.D").endsWith("\r\n\r\n.dot line"));
    RunConnection();
    ASSERT_TRUE(SpinUntil([&] { return up.Commands().count("QUIT") == 2; }, 5000));
    EXPECT_EQ(up.Commands().count("..dot line"), 2);
    EXPECT_FALSE(up.Commands().contains("...dot line"));
    ASSERT_EQ(up.Messages().size(), 1);
    EXPECT_TRUE(up.Messages()[0].content.endsWith("\r\n\r\n.dot line\r\n"));
    EXPECT_TRUE(b.Files().isEmpty());
}

TEST_F(ClientTest, ReplyLimitCountsFromTheLastProgressOfTheSend) {
    // 24 MB through a server that takes 10 MB a second: the send lasts well
    // over the limit after the body, yet its progress keeps it from running out.
    OutboundClient::Timeouts t;
    t.replyMs = 1500;
    t.bodyReplyMs = 1200;
    client.SetTimeouts(t);
    RawUpstream up({"220 hi\r\n"}, Accepting, 512 * 1024);
    UseUpstream(up.Port());
    const Text line = Text(998, 'x') + "\r\n";
    b.Put("V1.D", QueuedMessage("far@remote.example", line.repeated(24 * 1024)));
    RunConnection();
    EXPECT_FALSE(b.Events().contains("SMTP server did not reply in time.")) << b.Events().join("\n").constData();
    EXPECT_TRUE(b.Events().contains("[0] --> 250 done"));
    EXPECT_TRUE(b.Files().isEmpty());
}

TEST_F(ClientTest, SilentPopServerIsGivenUpAfterItsLimit) {
    QTcpServer silentPop;   // accepts and never says a word
    ASSERT_TRUE(silentPop.listen(QHostAddress::LocalHost));
    Upstream up;
    UseUpstream(up.Port());
    UsePop3("127.0.0.1", silentPop.serverPort(), "bob", "pw");
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    QElapsedTimer took;
    took.start();
    RunConnection();
    // The fixture's POP3 limit is 3 s; a coarse timer may fire up to 5% early.
    EXPECT_GE(took.elapsed(), 2850);
    EXPECT_EQ(up.Messages().size(), 1);
}
