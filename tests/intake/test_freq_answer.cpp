// File requests by mail: the reply with the file attached, too large, not
// found, and the request counted as a handed-on copy.
#include "server/net/Base64.h"
#include "tests/intake/IntakeFixture.h"

namespace {

Text Request(const Text& subject, const Text& extra = "") {
    return Mail("From: Requester <Req@Far.Example>\r\nTo: SYSOP**F@bbs.example\r\nSubject: " + subject + "\r\n" + extra);
}

class FreqInstall : public IntakeInstall {
public:
    FreqInstall() { settings.AllowFreq = 1; }
    Text Reply() const { return ReadFileBytes(PathJoin(bbs.QueueDir(), QueueFiles().value(0))); }
    Text Info(const Text& name, qint64 size) const {
        return "BBS Name......: " + bbs.main.BbsName + "\r\nFile Requested: " + name + "\r\nFilesize......: " +
               Text::number(size) + "\r\nMax Filesize..: " + Text::number(settings.MaxFreqSize);
    }
    // The body part and the decoded attachment of a reply.
    static Text Attachment(const Text& reply) {
        const qsizetype at = reply.indexOf("Content-Transfer-Encoding: base64\r\n\r\n");
        if (at < 0) return {};
        const qsizetype from = at + 37;
        const qsizetype end = reply.indexOf("\r\n--", from);
        return clsBase64::DecodeArr(reply.mid(from, end - from));
    }
};

}  // namespace

TEST(FreqAnswer, FileFromAnAreaIsAttached) {
    FreqInstall bbs;
    const QString file = PathJoin(bbs.Layout().fileAreaDir, "DEMO.ZIP");
    ASSERT_EQ(bbs.Save(Request(" demo.zip "), "SYSOP**F@bbs.example"), SaveResult::Saved);
    EXPECT_TRUE(bbs.HandOffs().isEmpty());
    const Text reply = bbs.Reply();
    EXPECT_TRUE(reply.contains("\r\nTo: req@far.example\r\nSubject: File Request - DEMO.ZIP\r\n"));
    EXPECT_TRUE(reply.contains("\r\n\r\nAttached is the file you have requested.\r\n\r\n" +
                               bbs.Info("DEMO.ZIP", FileLength(file)) + "\r\n\r\n--"));
    EXPECT_TRUE(reply.contains("Content-Type: application/octect-stream; name=\"DEMO.ZIP\"\r\n"));
    EXPECT_EQ(FreqInstall::Attachment(reply), ReadFileBytes(file));
    EXPECT_TRUE(bbs.Logged("File Request: " + TextFromPath(file) + " - Successful"));
    EXPECT_EQ(bbs.stats.TotalReceived, 1);
    EXPECT_GT(bbs.stats.KBReceived, 0.0f);
}

TEST(FreqAnswer, MagicNameAndReplyToAddress) {
    FreqInstall bbs;
    ASSERT_EQ(bbs.Save(Request("about", "Reply-To: Other <Other@Where.Example>\r\n"), "sysop**f@bbs.example"),
              SaveResult::Saved);
    const Text reply = bbs.Reply();
    EXPECT_TRUE(reply.contains("\r\nTo: other@where.example\r\nSubject: File Request - ABOUT\r\n"));
    EXPECT_EQ(FreqInstall::Attachment(reply), ReadFileBytes(PathJoin(bbs.Layout().net4Dir, "ABOUT.TXT")));
}

TEST(FreqAnswer, ExactlyTheLimitIsSentOneByteMoreIsRefused) {
    FreqInstall bbs;
    const QString file = PathJoin(bbs.Layout().fileAreaDir, "README.TXT");
    const qint64 size = FileLength(file);
    bbs.settings.MaxFreqSize = int32_t(size);
    ASSERT_EQ(bbs.Save(Request("README.TXT"), "SYSOP**F@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(FreqInstall::Attachment(bbs.Reply()), ReadFileBytes(file));
    bbs.settings.MaxFreqSize = int32_t(size - 1);
    ASSERT_TRUE(QFile::remove(PathJoin(bbs.bbs.QueueDir(), bbs.QueueFiles()[0])));
    ASSERT_EQ(bbs.Save(Request("README.TXT"), "SYSOP**F@bbs.example"), SaveResult::Saved);
    const Text reply = bbs.Reply();
    EXPECT_TRUE(reply.endsWith("\r\n\r\nThe file you requested is larger than the allotted limit. Please logon the BBS "
                               "to download it.\r\n\r\n" + bbs.Info("README.TXT", size) + "\r\n"));
    EXPECT_TRUE(reply.contains("Content-Type: text/plain; charset=us-ascii\r\n"));
    EXPECT_TRUE(bbs.Logged("File Request: " + TextFromPath(file) + " - File too large"));
}

TEST(FreqAnswer, UnknownOrEscapingNamesGetTheNotFoundReply) {
    FreqInstall bbs;
    for (const Text& name : {Text("nope.txt"), Text("../PRIV/SECRET.TXT"), Text("..\\PRIV\\SECRET.TXT"),
                             Text("/etc/hostname"), Text("SECRET.TXT")}) {
        bbs.window.clear();
        ASSERT_EQ(bbs.Save(Request(name), "SYSOP**F@bbs.example"), SaveResult::Saved);
        const QStringList files = bbs.QueueFiles();
        ASSERT_EQ(files.size(), 1) << name.constData();
        const Text reply = ReadFileBytes(PathJoin(bbs.bbs.QueueDir(), files[0]));
        EXPECT_TRUE(reply.endsWith("\r\n\r\nThe file you requested could not be found.\r\n\r\n" +
                                   bbs.Info(UCase(name), 0) + "\r\n"))
            << reply.constData();
        EXPECT_TRUE(bbs.Logged("File Request: " + UCase(name) + " - File could not be found"));
        ASSERT_TRUE(QFile::remove(PathJoin(bbs.bbs.QueueDir(), files[0])));
    }
}

TEST(FreqAnswer, OnlyWhileSwitchedOn) {
    FreqInstall bbs;
    bbs.settings.AllowFreq = 0;
    ASSERT_EQ(bbs.Save(Request("README.TXT"), "SYSOP**F@bbs.example"), SaveResult::Saved);
    EXPECT_TRUE(bbs.QueueFiles().isEmpty());
    EXPECT_EQ(bbs.HandOffs().size(), 1);
}
