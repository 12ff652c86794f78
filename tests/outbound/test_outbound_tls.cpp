// The SMTP client and the POP3 log-in over TLS, against real TLS servers on
// loopback (aiosmtpd and the POP3 script, with Python's ssl) and
// certificates made by openssl for each run.
#include <QSignalSpy>
#include "server/net/Base64.h"
#include "server/net/Tls.h"
#include "server/outbound/OutboundClient.h"
#include "server/store/KeyedList.h"
#include "tests/outbound/OutboundFixture.h"
#include "tests/outbound/ScriptedServers.h"
#include "tests/support/TestCertificates.h"

namespace {

class TlsClientTest : public ::testing::Test {
protected:
    TlsClientTest() : client(b.ctx) {
        b.settings.ClientHost = "127.0.0.1";
        OutboundClient::Timeouts t;
        t.replyMs = 5000;
        t.pop3Ms = 5000;
        client.SetTimeouts(t);
    }

    void SetUp() override {
        ASSERT_TRUE(b.Ready()) << "the test installation did not load";
        ASSERT_TRUE(certs.Made()) << "openssl did not make the test certificates";
        ASSERT_TRUE(TlsAvailable());
        Key(TlsSettings::kClientCaKey, certs.Path("ca.pem").toLatin1());
    }

    void Key(const char* key, const Text& value) { PutData(key, value, b.ctx.KeyedList()); }
    void UseAuth(const Text& user, const Text& password) {
        b.settings.ClientAuth = 1;
        b.settings.AuthUsername = user;
        b.settings.AuthPassword = password;
    }
    // aiosmtpd serving TLS with the certificate `name`, taking bob's log-in.
    Upstream TlsUpstream(const QString& name, bool implicit, const QJsonArray& excludeAuth = {"PLAIN"}) {
        return Upstream(QJsonObject{
            {"tls",
             QJsonObject{
                 {"cert", certs.Path(name + ".pem")}, {"key", certs.Path(name + ".key")}, {"implicit", implicit}}},
            {"auth", QJsonObject{{"user", "bob"}, {"password", "app pw"}, {"auth_exclude", excludeAuth}}}});
    }

    void RunConnection() {
        QSignalSpy ended(&client, &OutboundClient::connectionEnded);
        client.Timer4_Timer();
        if (!SpinUntil([&] { return ended.count() > 0; }, 15000)) ADD_FAILURE() << "the connection did not end";
        client.SupervisionTick();
    }
    bool Reported(const Text& text) const {
        return b.Events().contains(text) && ReadFileBytes("ZRVERROR.LOG").contains(" SendOutbound - " + text);
    }

    OutboundBbs b;
    TestCertificates certs;
    OutboundClient client;
};

const Text kLoginUser = clsBase64::Encode("bob");

}   // namespace

// "auto" (the key absent) on the submission port: STARTTLS as offered, EHLO
// again, then AUTH LOGIN; only over TLS do the credentials travel.
TEST_F(TlsClientTest, StartTlsComesBeforeTheCredentials) {
    Upstream up = TlsUpstream("server", false);
    b.settings.ClientPort = int16_t(up.Port());
    UseAuth("bob", "app pw");
    b.Put("V1.D", QueuedMessage("far@remote.example", "over TLS\r\n"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = up.Commands();
    ASSERT_GE(commands.size(), 6);
    EXPECT_EQ(commands.mid(0, 6), (TextList{"EHLO bbs.example", "STARTTLS", "EHLO bbs.example", "AUTH LOGIN",
                                            kLoginUser, clsBase64::Encode("app pw")}));
    ASSERT_EQ(up.Messages().size(), 1);
    EXPECT_TRUE(up.Messages()[0].content.endsWith("over TLS\r\n"));
    EXPECT_TRUE(b.Files().isEmpty());
    EXPECT_TRUE(b.Events().contains("[0] Authentication successful."));
}

// "implicit": TLS from the first byte; AUTH PLAIN where the server offers
// only that (RFC 4616: NUL, user, NUL, password).
TEST_F(TlsClientTest, ImplicitTlsWithAuthPlain) {
    Key(TlsSettings::kClientKey, "Implicit");
    Upstream up = TlsUpstream("server", true, QJsonArray{"LOGIN"});
    b.settings.ClientPort = int16_t(up.Port());
    UseAuth("bob", "app pw");
    b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
    RunConnection();
    ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
    const TextList commands = up.Commands();
    ASSERT_GE(commands.size(), 3);
    EXPECT_EQ(commands.mid(0, 3),
              (TextList{"EHLO bbs.example", "AUTH PLAIN " + clsBase64::Encode(Text("\0bob\0app pw", 11)),
                        "MAIL From:<writer@elsewhere.example>"}));
    EXPECT_EQ(up.Messages().size(), 1);
    EXPECT_TRUE(b.Files().isEmpty());
    EXPECT_TRUE(b.LogTexts().contains("<-- AUTH PLAIN"));
    EXPECT_FALSE(ReadFileBytes(b.bbs.Path("OSPRINE.LOG")).contains(clsBase64::Encode(Text("\0bob\0app pw", 11))));
}

// A certificate for another host, or from a CA nobody trusts: nothing is
// sent after the handshake, the message stays queued, and the reason is told.
TEST_F(TlsClientTest, CertificateProblemsKeepTheQueue) {
    const QList<std::pair<QString, Text>> cases{{"otherhost", "host name did not match"}, {"rogue", "certificate"}};
    for (const auto& [cert, reason] : cases) {
        Key(TlsSettings::kClientKey, "implicit");
        Upstream up = TlsUpstream(cert, true);
        b.settings.ClientPort = int16_t(up.Port());
        b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        EXPECT_TRUE(up.Commands().isEmpty()) << cert.toStdString();
        EXPECT_EQ(b.Files(), QStringList{"V1.D"});
        const Text prefix = "TLS handshake with 127.0.0.1 failed: ";
        const TextList events = b.Events();
        const auto report =
            std::find_if(events.begin(), events.end(), [&](const Text& e) { return e.startsWith(prefix); });
        ASSERT_NE(report, events.end()) << events.join("\n").constData();
        EXPECT_TRUE(report->contains(reason)) << report->constData();
        EXPECT_TRUE(ReadFileBytes("ZRVERROR.LOG").contains(" SendOutbound - " + *report));
        ASSERT_TRUE(QFile::remove(b.QueuePath("V1.D")));
        b.events.clear();
    }
}

// "auto" (the default) and "starttls" against a server without it (as it
// looks when someone on the path strips the STARTTLS line), and "none"
// against one that offers it: no credentials travel in clear text, and the
// queue waits, its attempt counted, nothing returned. "none" against a
// server without TLS is the sysop's choice of clear text.
TEST_F(TlsClientTest, NoCredentialsInClearText) {
    UseAuth("bob", "app pw");
    {
        Upstream plain(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", "app pw"}}}});
        b.settings.ClientPort = int16_t(plain.Port());
        b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        ASSERT_TRUE(plain.WaitForLine("QUIT\r\n"));
        EXPECT_EQ(plain.Commands(), (TextList{"EHLO bbs.example", "QUIT"}));
        EXPECT_EQ(b.Files(), QStringList{"V1.D"});
        EXPECT_TRUE(b.Get("V1.D").contains("\r\nX-OSPRINE-Attempts: 1\r\n"));
        EXPECT_TRUE(
            Reported("Upstream server 127.0.0.1 does not offer STARTTLS; the password is not sent without "
                     "TLS and the messages stay queued. If that server has no TLS, \"osprinectl config "
                     "clienttls=none\" allows clear text."))
            << b.Events().join("\n").constData();

        Key(TlsSettings::kClientKey, "none");
        b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        ASSERT_TRUE(SpinUntil([&] { return plain.Commands().count("QUIT") == 2; }, 5000));
        EXPECT_EQ(plain.Commands().mid(2, 4), (TextList{"EHLO bbs.example", "AUTH LOGIN", "Ym9i", "YXBwIHB3"}));
        EXPECT_EQ(plain.Messages().size(), 1);
        EXPECT_TRUE(b.Files().isEmpty());
        b.events.clear();
    }
    {
        Key(TlsSettings::kClientKey, "starttls");
        Upstream plain(QJsonObject{{"auth", QJsonObject{{"user", "bob"}, {"password", "app pw"}}}});
        b.settings.ClientPort = int16_t(plain.Port());
        b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        ASSERT_TRUE(plain.WaitForLine("QUIT\r\n"));
        EXPECT_EQ(plain.Commands(), (TextList{"EHLO bbs.example", "QUIT"}));
        EXPECT_EQ(b.Files(), QStringList{"V1.D"});
        EXPECT_TRUE(Reported("Upstream server 127.0.0.1 does not offer STARTTLS; the messages stay queued."));
    }
    {
        Key(TlsSettings::kClientKey, "none");
        Upstream up = TlsUpstream("server", false);
        b.settings.ClientPort = int16_t(up.Port());
        RunConnection();
        ASSERT_TRUE(up.WaitForLine("QUIT\r\n"));
        // aiosmtpd requires STARTTLS: 530 to MAIL, a refusal of the session.
        EXPECT_EQ(up.Commands(), (TextList{"EHLO bbs.example", "MAIL From:<writer@elsewhere.example>", "QUIT"}));
        EXPECT_TRUE(b.Events().contains("[0] Authentication skipped: the server offers STARTTLS but TLS is off."));
        EXPECT_EQ(b.Files(), QStringList{"V1.D"});
    }
}

// POP3 before SMTP over implicit TLS and over STLS; a refused password is
// reported, and no SMTP connection follows.
TEST_F(TlsClientTest, Pop3LogInOverTls) {
    Upstream up;
    b.settings.ClientPort = int16_t(up.Port());
    b.settings.Pop3Before = 1;
    b.settings.Pop3Host = "127.0.0.1";
    b.settings.Pop3Username = "bob";
    b.settings.Pop3Password = "pop pw";
    const QStringList tls{"--cert", certs.Path("server.pem"), "--key", certs.Path("server.key"), "--password",
                          "pop pw"};
    {
        Key(TlsSettings::kPop3Key, "implicit");
        Pop3Server pop(tls + QStringList{"--implicit"});
        b.settings.Pop3Port = int16_t(pop.Port());
        b.Put("V1.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        EXPECT_EQ(pop.Received(), "USER bob\r\nPASS pop pw\r\nQUIT\r\n");
        EXPECT_EQ(up.Messages().size(), 1);
    }
    {
        Key(TlsSettings::kPop3Key, "auto");
        Pop3Server pop(tls);
        b.settings.Pop3Port = int16_t(pop.Port());
        b.Put("V2.D", QueuedMessage("far@remote.example", "x"));
        RunConnection();
        EXPECT_EQ(pop.Received(), "CAPA\r\nSTLS\r\nUSER bob\r\nPASS pop pw\r\nQUIT\r\n");
        EXPECT_EQ(up.Messages().size(), 2);
    }
    {
        b.settings.Pop3Password = "wrong";
        Pop3Server pop(tls);
        b.settings.Pop3Port = int16_t(pop.Port());
        b.Put("V3.D", QueuedMessage("far@remote.example", "x"));
        client.Timer4_Timer();
        ASSERT_TRUE(SpinUntil([&] { return !client.Busy(); }, 10000));
        EXPECT_EQ(pop.Received(), "CAPA\r\nSTLS\r\nUSER bob\r\nPASS wrong\r\n");
        EXPECT_TRUE(Reported("POP3 log-in failed: POP3 server refused the password: -ERR [AUTH] invalid password"));
        EXPECT_EQ(up.Messages().size(), 2);
        EXPECT_EQ(b.Files(), QStringList{"V3.D"});
    }
}
