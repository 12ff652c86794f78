// Messages the server writes itself, the 7-bit filter and the numbering of
// message files.
#include "server/bbs/EmailRecord.h"
#include "server/intake/InetMessage.h"
#include "server/net/Base64.h"
#include "server/store/Dates.h"
#include "tests/intake/IntakeFixture.h"

#include <QRegularExpression>

namespace {
Text MaskDate(const Text& text) {
    static const QRegularExpression date(
        R"(Date: [A-Z][a-z]{2}, \d{2} [A-Z][a-z]{2} \d{4} \d{2}:\d{2}:\d{2} [+-]\d{4})");
    return QString::fromLatin1(text).replace(date, "Date: <DATE>").toLatin1();
}
Text Queued(const IntakeInstall& bbs, int i = 0) {
    return ReadFileBytes(PathJoin(bbs.bbs.QueueDir(), bbs.QueueFiles().value(i)));
}
}   // namespace

TEST(InetMessage, PlainMessageToTheInternet) {
    IntakeInstall bbs;
    ASSERT_TRUE(WriteInetMessage(bbs.ctx, " Someone@Far.Example ", " Subject line ", "Body text   "));
    ASSERT_EQ(bbs.QueueFiles(), QStringList{"V1.D"});
    EXPECT_EQ(MaskDate(Queued(bbs)),
              "Message-ID: <V1@bbs.example>\r\n"
              "From: OSPRINE@bbs.example\r\n"
              "To: someone@far.example\r\n"
              "Subject: Subject line\r\n"
              "Date: <DATE>\r\n"
              "X-Mailer: OSPRINE v1.4.060711\r\n"
              "Organization: " +
                  bbs.bbs.main.BbsName +
                  "\r\n"
                  "MIME-Version: 1.0\r\n"
                  "Content-Type: text/plain; charset=us-ascii\r\n"
                  "Content-Transfer-Encoding: 7bit\r\n"
                  "\r\n"
                  "Body text\r\n");
    EXPECT_FALSE(bbs.bbs.main.BbsName.isEmpty());
}

TEST(InetMessage, ReturnNoticeCarriesItsMark) {
    IntakeInstall bbs;
    ASSERT_TRUE(WriteInetMessage(bbs.ctx, "a@far.example", "Undeliverable Message", "x", {.returnNotice = true}));
    EXPECT_TRUE(Queued(bbs).contains("X-Mailer: OSPRINE v1.4.060711\r\nX-OSPRINE-Status: RETURNED\r\nOrganization: "));
}

TEST(InetMessage, AttachmentIsBase64InAMultipartBody) {
    IntakeInstall bbs;
    const QString file = PathJoin(bbs.Layout().fileAreaDir, "DEMO.ZIP");
    const QByteArray bytes = ReadFileBytes(file);
    ASSERT_GT(bytes.size(), 1000);
    const QDateTime before = QDateTime::currentDateTime();
    ASSERT_TRUE(
        WriteInetMessage(bbs.ctx, "a@far.example", "File Request - DEMO.ZIP", "Attached.", {.attachmentPath = file}));
    const Text m = Queued(bbs);
    const qsizetype q = m.indexOf("boundary=\"") + 10;
    const Text boundary = m.mid(q, m.indexOf('"', q) - q);
    // yymmdd "." seconds since midnight "/" system id
    const QRegularExpression form(R"(^\d{6}\.\d{1,5}/bbs\.example$)");
    EXPECT_TRUE(form.match(QString::fromLatin1(boundary)).hasMatch()) << boundary.constData();
    EXPECT_TRUE(boundary.startsWith(YyMmDd(before.date())));
    const Text expectedTail =
        "Content-Transfer-Encoding: 7bit\r\n\r\n"
        "This is a MIME-encapsulated message.\r\n\r\n"
        "--" +
        boundary +
        "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
        "Attached.\r\n\r\n"
        "--" +
        boundary +
        "\r\n"
        "Content-Type: application/octect-stream; name=\"DEMO.ZIP\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        clsBase64::EncodeArr(bytes) + "\r\n--" + boundary + "--\r\n";
    EXPECT_TRUE(m.endsWith(expectedTail));
    EXPECT_TRUE(m.contains("\r\nContent-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n"));
}

TEST(InetMessage, MissingAttachmentSendsThePlainMessage) {
    IntakeInstall bbs;
    ASSERT_TRUE(WriteInetMessage(bbs.ctx, "a@far.example", "s", "b",
                                 {.attachmentPath = bbs.Layout().fileAreaDir + "/GONE.ZIP"}));
    EXPECT_TRUE(Queued(bbs).contains("Content-Type: text/plain; charset=us-ascii\r\n"));
    EXPECT_FALSE(Queued(bbs).contains("multipart"));
}

TEST(InetMessage, EmptyPartsSendNothing) {
    IntakeInstall bbs;
    EXPECT_TRUE(WriteInetMessage(bbs.ctx, "a@far.example", "s", "   "));
    EXPECT_TRUE(WriteInetMessage(bbs.ctx, "a@far.example", " ", "b"));
    EXPECT_TRUE(WriteInetMessage(bbs.ctx, "", "s", "b"));
    EXPECT_TRUE(bbs.QueueFiles().isEmpty());
}

TEST(InetMessage, LocalUserGetsItInTheEmailBase) {
    IntakeInstall bbs;
    ASSERT_TRUE(WriteInetMessage(bbs.ctx, "Mary.Jones@bbs.example", "Note", "Hello Mary"));
    EXPECT_TRUE(bbs.QueueFiles().isEmpty());
    const QList<EmailEntry> mail = ReadEmailBase(bbs.bbs.MessageDir());
    ASSERT_EQ(mail.size(), 1);
    EXPECT_EQ(mail[0].record.ToUser, "mary jones");
    EXPECT_EQ(mail[0].record.ToUserNumber, 3);
    EXPECT_EQ(mail[0].record.FromUser, "osprine");
    EXPECT_EQ(mail[0].record.FromSystem, "bbs.example");
    EXPECT_EQ(mail[0].record.Subject, "Note");
    EXPECT_EQ(mail[0].body, "Hello Mary\r\n");
    // Nobody of that name: silently not delivered.
    ASSERT_TRUE(WriteInetMessage(bbs.ctx, "nobody.here@bbs.example", "Note", "x"));
    EXPECT_EQ(ReadEmailBase(bbs.bbs.MessageDir()).size(), 1);
}

TEST(InetMessage, FullQueueIsReported) {
    IntakeInstall bbs;
    for (int n = 1; n <= 1000; ++n) {
        QFile f(PathJoin(bbs.bbs.QueueDir(), MessageFileName(n)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_FALSE(WriteInetMessage(bbs.ctx, "a@far.example", "s", "b"));
    EXPECT_FALSE(QFileInfo::exists(PathJoin(bbs.bbs.QueueDir(), "V0.D")));
}

TEST(MessageNumbers, LowestFreeNumberIgnoringCase) {
    QTemporaryDir dir;
    EXPECT_EQ(GetNextMessageNumber(dir.path()), 1);
    for (const char* name : {"V1.D", "v2.d", "V4.D", "V03.D", "VX.D", "W3.D", "V3.DX"})
        ASSERT_TRUE(WriteFileAtomic(PathJoin(dir.path(), name), "x"));
    EXPECT_EQ(GetNextMessageNumber(dir.path()), 3);
    EXPECT_EQ(WriteNewMessageFile(dir.path(), TextList{"a", "b", "c"}), 3);
    EXPECT_EQ(ReadFileBytes(PathJoin(dir.path(), "V3.D")), "abc");
    EXPECT_EQ(WriteNewMessageFile(dir.path(), "d"), 5);
    EXPECT_EQ(GetNextMessageNumber(dir.path() + "/missing"), 1);
    EXPECT_EQ(WriteNewMessageFile(dir.path() + "/missing", "x"), 0);
}
