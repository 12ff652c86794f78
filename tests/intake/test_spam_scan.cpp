// The external spam scan with stand-in scanners on PATH (the real scanner and
// the failure paths against the running server are in the end-to-end tests).
#include "server/intake/SpamScan.h"
#include "tests/intake/IntakeFixture.h"

namespace {

const Text kHeaders =
    "From: a@remote.example\r\nTo: darkstar@bbs.example\r\nSubject: Hi\r\n"
    "Date: Tue, 11 Jul 2006 19:35:37 +0200\r\n";

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name), old_(qgetenv(name)) { qputenv(name, value); }
    ~ScopedEnv() { qputenv(name_, old_); }

private:
    const char* name_;
    QByteArray old_;
};

class ScanInstall : public IntakeInstall {
public:
    ScanInstall() {
        settings.SpamAssassin = 1;
        EXPECT_TRUE(QDir().mkpath(binDir()));
    }
    QString binDir() const { return PathJoin(Layout().mainDir, "standin-bin"); }
    // A stand-in scanner: a shell script named "spamassassin".
    void StandIn(const Text& body) const {
        const QString path = PathJoin(binDir(), "spamassassin");
        ASSERT_TRUE(WriteFileAtomic(path, "#!/bin/sh\n" + body));
        ASSERT_TRUE(
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }
    QByteArray PathWithStandIn() const { return QFile::encodeName(binDir()) + ":" + qgetenv("PATH"); }
    QStringList Scratch() const { return QDir(bbs.TempDir()).entryList(QDir::Files); }
};

}   // namespace

TEST(SpamScan, ScannerGetsTheMessageOnStandardInputAndItsOutputReplacesIt) {
    ScanInstall bbs;
    const QString args = PathJoin(bbs.Layout().mainDir, "args.txt");
    bbs.StandIn("echo \"$*\" > '" + TextFromPath(args) + "'\nprintf 'X-Scanned: yes\\r\\n'\ncat\n");
    ScopedEnv env("PATH", bbs.PathWithStandIn());
    ASSERT_EQ(bbs.Save(Mail(kHeaders, "Body\r\n"), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(ReadFileBytes(args), "-D -t\n");
    EXPECT_TRUE(bbs.HandOff().contains("\r\nX-Scanned: yes\r\n"));
    EXPECT_TRUE(bbs.HandOff().endsWith("\r\n\r\nBody\r\n\r\n\r\n"));
    EXPECT_TRUE(bbs.Scratch().isEmpty());
    EXPECT_EQ(bbs.Events().mid(5, 2),
              TextList({"Data Received. Executing SpamAssassin...", "SpamAssassin execution completed."}));
}

TEST(SpamScan, HeaderFilterWorksOnTheScannedText) {
    ScanInstall bbs;
    bbs.StandIn("printf 'X-Spam-Flag: YES\\r\\n'\ncat\n");
    bbs.List("headerfilter", "X-Spam-Flag,yes");
    ScopedEnv env("PATH", bbs.PathWithStandIn());
    EXPECT_EQ(bbs.Save(Mail(kHeaders), "darkstar@bbs.example"), SaveResult::NotSaved);
    EXPECT_TRUE(bbs.Logged("Email HEADER (X-Spam-Flag) contains filtered phrase \"yes\". Message deleted."));
}

TEST(SpamScan, ExemptRecipientLargeMessageOrSwitchOffIsNotScanned) {
    ScanInstall bbs;
    bbs.StandIn("printf 'X-Scanned: yes\\r\\n'\ncat\n");
    ScopedEnv env("PATH", bbs.PathWithStandIn());
    bbs.List("filterexemptions", "darkstar,1,0,0,,,,,,,");
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "darkstar@bbs.example"), SaveResult::Saved);
    bbs.List("filterexemptions", "");
    const Text big = Mail(kHeaders, Text(1048576, 'x'));
    ASSERT_EQ(bbs.Save(big, "darkstar@bbs.example"), SaveResult::Saved);
    bbs.settings.SpamAssassin = 0;
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "darkstar@bbs.example"), SaveResult::Saved);
    ASSERT_EQ(bbs.HandOffs().size(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(bbs.HandOff(i).contains("X-Scanned")) << i;
    EXPECT_FALSE(bbs.Logged("Data Received. Executing SpamAssassin..."));
    // One byte less than the limit is scanned.
    bbs.settings.SpamAssassin = 1;
    const Text below = Mail(kHeaders, Text(1048575 - Mail(kHeaders, "").size(), 'x'));
    ASSERT_EQ(below.size(), 1048575);
    ASSERT_EQ(bbs.Save(below, "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_TRUE(bbs.HandOff(3).contains("X-Scanned"));
}

TEST(SpamScan, ScratchFilesStayOutOfAnOutboundQueueInTheTempDirectory) {
    ScanInstall bbs;
    bbs.bbs.queueDir = bbs.bbs.paths.TempDir();
    const QString seen = PathJoin(bbs.Layout().mainDir, "seen.txt");
    bbs.StandIn("ls '" + TextFromPath(bbs.bbs.TempDir()) + "' > '" + TextFromPath(seen) + "'\ncat\n");
    ScopedEnv env("PATH", bbs.PathWithStandIn());
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(ReadFileBytes(seen), "OSPRSCAN\n");
    EXPECT_TRUE(QDir(PathJoin(bbs.bbs.TempDir(), "OSPRSCAN")).entryList(QDir::Files).isEmpty());
}

TEST(SpamScan, ScratchFileThatCannotBeWritten) {
    ScanInstall bbs;
    bbs.StandIn("printf 'X-Scanned: yes\\r\\n'\ncat\n");
    ScopedEnv env("PATH", bbs.PathWithStandIn());
    // A plain file where the temporary directory belongs.
    const QString temp = bbs.bbs.TempDir();
    ASSERT_TRUE(QDir(temp).removeRecursively());
    ASSERT_TRUE(WriteFileAtomic(temp, "in the way"));
    ASSERT_EQ(bbs.Save(Mail(kHeaders, "Body\r\n"), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_TRUE(bbs.Logged("SpamAssassin Error: Message could not be found."));
    EXPECT_FALSE(bbs.HandOff().contains("X-Scanned"));
}
