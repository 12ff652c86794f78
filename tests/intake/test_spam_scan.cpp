// The external spam scan: the real scanner, and stand-ins on PATH for the
// failure paths (faults that the real one cannot be made to show).
#include "server/intake/SpamScan.h"
#include "tests/intake/IntakeFixture.h"

#include <QElapsedTimer>
#include <QStandardPaths>

namespace {

const Text kHeaders = "From: a@remote.example\r\nTo: darkstar@bbs.example\r\nSubject: Hi\r\n"
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
        ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }
    QByteArray PathWithStandIn() const { return QFile::encodeName(binDir()) + ":" + qgetenv("PATH"); }
    QStringList Scratch() const { return QDir(bbs.TempDir()).entryList(QDir::Files); }
};

}  // namespace

TEST(SpamScan, RealScannerAddsItsHeaders) {
    if (QStandardPaths::findExecutable("spamassassin").isEmpty()) GTEST_SKIP() << "spamassassin is not installed";
    ScanInstall bbs;
    // The scanner's own settings: local tests only, so it asks no name server.
    const QString home = PathJoin(bbs.Layout().mainDir, "home");
    ASSERT_TRUE(QDir().mkpath(home + "/.spamassassin"));
    ASSERT_TRUE(WriteFileAtomic(home + "/.spamassassin/user_prefs",
                                "dns_available no\nskip_rbl_checks 1\nuse_bayes 0\nuse_razor2 0\nuse_pyzor 0\n"));
    ScopedEnv env("HOME", QFile::encodeName(home));
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "darkstar@bbs.example", "a@remote.example", 30), SaveResult::Saved);
    EXPECT_TRUE(bbs.Logged("Data Received. Executing SpamAssassin..."));
    EXPECT_TRUE(bbs.Logged("SpamAssassin execution completed."));
    EXPECT_TRUE(bbs.HandOff().contains("\r\nX-Spam-Checker-Version: SpamAssassin")) << bbs.HandOff().constData();
    EXPECT_TRUE(bbs.Scratch().isEmpty());
}

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

TEST(SpamScan, ScannerNotInstalled) {
    ScanInstall bbs;
    ScopedEnv env("PATH", QFile::encodeName(bbs.binDir()));
    ASSERT_EQ(bbs.Save(Mail(kHeaders, "Body\r\n"), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_TRUE(bbs.Logged("SpamAssassin Error: An error occurred while executing SpamAssassin."));
    EXPECT_TRUE(bbs.Scratch().isEmpty());
    EXPECT_TRUE(bbs.HandOff().endsWith("\r\n\r\nBody\r\n\r\n\r\n"));
}

TEST(SpamScan, EmptyResult) {
    ScanInstall bbs;
    bbs.StandIn("cat > /dev/null\n");
    ScopedEnv env("PATH", bbs.PathWithStandIn());
    ASSERT_EQ(bbs.Save(Mail(kHeaders, "Body\r\n"), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_TRUE(bbs.Logged("SpamAssassin Error: No results given."));
    EXPECT_TRUE(bbs.Scratch().isEmpty());
    EXPECT_TRUE(bbs.HandOff().endsWith("\r\n\r\nBody\r\n\r\n\r\n"));
}

TEST(SpamScan, SlowScannerTimesOutAndLeavesBothScratchFiles) {
    ScanInstall bbs;
    bbs.StandIn("printf 'partial'\nexec sleep 40\n");
    ScopedEnv env("PATH", bbs.PathWithStandIn());
    QElapsedTimer t;
    t.start();
    ASSERT_EQ(bbs.Save(Mail(kHeaders, "Body\r\n"), "darkstar@bbs.example", "a@remote.example", 30), SaveResult::Saved);
    EXPECT_GE(t.elapsed(), kSpamScanTimeoutMs - 100);
    EXPECT_TRUE(bbs.Logged("SpamAssassin Error: Timeout waiting for results."));
    EXPECT_EQ(bbs.Scratch(), QStringList({"R1.D", "V1.D"}));
    EXPECT_EQ(ReadFileBytes(PathJoin(bbs.bbs.TempDir(), "V1.D")), Mail(kHeaders, "Body\r\n"));
    EXPECT_TRUE(bbs.HandOff().endsWith("\r\n\r\nBody\r\n\r\n\r\n"));
    // The next scan takes the next scratch number.
    bbs.StandIn("cat\n");
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(bbs.Scratch(), QStringList({"R1.D", "V1.D"}));
}

TEST(SpamScan, OtherMessagesAreFiledWhileAScanRuns) {
    ScanInstall bbs;
    bbs.StandIn("sleep 2\ncat\n");
    ScopedEnv env("PATH", bbs.PathWithStandIn());
    bbs.List("filterexemptions", "bob,1,0,0,,,,,,,");
    std::optional<SaveResult> slow, quick;
    bbs.intake.SaveMessage({"a@remote.example", "darkstar@bbs.example", Mail(kHeaders), 1, "192.0.2.1"},
                           [&](SaveResult r) { slow = r; });
    EXPECT_FALSE(slow.has_value());
    bbs.intake.SaveMessage({"a@remote.example", "bob@bbs.example", Mail(kHeaders), 2, "192.0.2.2"},
                           [&](SaveResult r) { quick = r; });
    EXPECT_EQ(quick, SaveResult::Saved);
    EXPECT_FALSE(slow.has_value());
    QDeadlineTimer deadline(10000);
    while (!slow && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(slow, SaveResult::Saved);
    ASSERT_EQ(bbs.HandOffs().size(), 2);
    EXPECT_TRUE(bbs.HandOff(0).contains("for <bob@bbs.example>"));
    EXPECT_TRUE(bbs.HandOff(1).contains("for <darkstar@bbs.example>"));
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
