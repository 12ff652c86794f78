// Starting the BBS's tosser for waiting hand-off files: the script, the
// "BT*.FLG" guard, a main directory whose name the shell must not read as
// commands, and one tosser at a time.
#include "server/intake/Tossing.h"
#include "tests/intake/IntakeFixture.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

// A stand-in for the BBS's tosser: records how it was started, imports
// (removes) the hand-off files and, when asked, takes its time.
void InstallTosser(const QString& mainDir, const QString& spoolTmp, const QString& record, int sleepSeconds) {
    const Text script =
        "#!/bin/sh\n"
        "echo \"$# $1 $2 $(pwd)\" >> '" +
        TextFromPath(record) +
        "'\n"
        "sleep " +
        Text::number(sleepSeconds) +
        "\n"
        "rm -f '" +
        TextFromPath(spoolTmp) + "'/*.D\n";
    const QString path = PathJoin(mainDir, "ZUUCP.EXE");
    ASSERT_TRUE(WriteFileAtomic(path, script));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

// Waits (bounded) until the condition holds.
template <typename F>
bool WaitFor(F condition, int ms) {
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms) return false;
        QThread::msleep(20);
    }
    return true;
}

class TosserInstall : public IntakeInstall {
public:
    TosserInstall(int sleepSeconds = 0) {
        // A main directory whose name holds spaces, quotes and a command.
        mainDir = PathJoin(Layout().mainDir, "it's a \"main\" dir $(touch injected) `touch injected2`");
        EXPECT_TRUE(QDir().mkpath(mainDir));
        bbs.paths.fields[0] = TextFromPath(mainDir);
        record = PathJoin(Layout().mainDir, "tosser-runs.txt");
        InstallTosser(mainDir, bbs.SpoolTmpDir(), record, sleepSeconds);
    }
    // A tosser still at work would hold back the next test's start.
    ~TosserInstall() {
        WaitFor([&] { return !ScriptExists(); }, 5000);
        QThread::msleep(100);
    }
    void Waiting() const { EXPECT_TRUE(WriteFileAtomic(PathJoin(bbs.SpoolTmpDir(), "V7.D"), "x")); }
    TextList Runs() const { return ReadFileBytes(record).split('\n').mid(0, ReadFileBytes(record).count('\n')); }
    bool ScriptExists() const { return QFileInfo::exists(PathJoin(mainDir, "OSPRTOSS.BAT")); }

    QString mainDir, record;
};

}   // namespace

TEST(TosserScript, ChangesToTheQuotedMainDirectoryRunsTheTosserAndDeletesItself) {
    const QDateTime when(QDate(2006, 7, 11), QTime(9, 5, 7));
    EXPECT_EQ(TosserScript("/bbs/it's here", when),
              "# This file created by OSPRINE v1.4.060711 @ 09:05:07 on 07-11-2006\n"
              "cd '/bbs/it'\\''s here' || exit 1\n"
              "./ZUUCP.EXE 0 /R\n"
              "cd '/bbs/it'\\''s here'\n"
              "rm -f '/bbs/it'\\''s here/OSPRTOSS.BAT'\n"
              "exit\n");
}

TEST(Tosser, StartsForWaitingFilesInTheMainDirectory) {
    TosserInstall bbs;
    bbs.Waiting();
    TossMessages(bbs.ctx);
    ASSERT_TRUE(WaitFor([&] { return bbs.HandOffs().isEmpty() && !bbs.ScriptExists(); }, 5000));
    ASSERT_EQ(bbs.Runs().size(), 1);
    EXPECT_EQ(bbs.Runs()[0], "2 0 /R " + TextFromPath(bbs.mainDir));
    EXPECT_FALSE(QFileInfo::exists(PathJoin(bbs.mainDir, "injected")));
    EXPECT_FALSE(QFileInfo::exists(PathJoin(bbs.Layout().mainDir, "injected")));
    EXPECT_FALSE(QFileInfo::exists(PathJoin(bbs.mainDir, "injected2")));
}

TEST(Tosser, NothingWaitingNothingStarted) {
    TosserInstall bbs;
    TossMessages(bbs.ctx);
    QThread::msleep(300);
    EXPECT_FALSE(bbs.ScriptExists());
    EXPECT_TRUE(bbs.Runs().isEmpty());
}

TEST(Tosser, BusyFlagOfTheBbsHoldsItBack) {
    TosserInstall bbs;
    bbs.Waiting();
    ASSERT_TRUE(WriteFileAtomic(PathJoin(bbs.mainDir, "bt0001.flg"), ""));
    TossMessages(bbs.ctx);
    QThread::msleep(300);
    EXPECT_FALSE(bbs.ScriptExists());
    EXPECT_TRUE(bbs.Runs().isEmpty());
    ASSERT_TRUE(QFile::remove(PathJoin(bbs.mainDir, "bt0001.flg")));
    TossMessages(bbs.ctx);
    EXPECT_TRUE(WaitFor([&] { return bbs.Runs().size() == 1; }, 5000));
}

TEST(Tosser, OneAtATimeEvenBeforeItRaisesItsFlag) {
    TosserInstall bbs(1);
    bbs.Waiting();
    TossMessages(bbs.ctx);
    ASSERT_TRUE(WaitFor([&] { return bbs.Runs().size() == 1; }, 5000));
    TossMessages(bbs.ctx);
    TossMessages(bbs.ctx);
    ASSERT_TRUE(WaitFor([&] { return bbs.HandOffs().isEmpty(); }, 5000));
    EXPECT_EQ(bbs.Runs().size(), 1);
    // Once it has ended, the next waiting file starts it again.
    ASSERT_TRUE(WaitFor([&] { return !bbs.ScriptExists(); }, 5000));
    QThread::msleep(100);
    bbs.Waiting();
    TossMessages(bbs.ctx);
    EXPECT_TRUE(WaitFor([&] { return bbs.Runs().size() == 2; }, 5000));
}

TEST(Tosser, ManyWaitingHandOffsStartItWithoutWaitingForTheTick) {
    TosserInstall bbs(1);
    const Text message = Mail("From: a@remote.example\r\nTo: darkstar@bbs.example\r\n");
    ASSERT_EQ(bbs.Save(message, "darkstar@bbs.example"), SaveResult::Saved);
    QThread::msleep(300);
    EXPECT_TRUE(bbs.Runs().isEmpty());   // one file waits: the next tick will start it
    for (int n = 2; n < kEarlyTossNumber; ++n)
        ASSERT_TRUE(WriteFileAtomic(PathJoin(bbs.bbs.SpoolTmpDir(), MessageFileName(n)), "x"));
    ASSERT_EQ(bbs.Save(message, "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_TRUE(WaitFor([&] { return bbs.Runs().size() == 1; }, 5000));
    EXPECT_TRUE(WaitFor([&] { return bbs.HandOffs().isEmpty(); }, 5000));
}
