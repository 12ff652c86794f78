// One running copy per working directory.
#include <QLocalServer>
#include <QSignalSpy>
#include "tests/updater/UpdaterFixture.h"
#include "updater/SingleInstance.h"

TEST(SingleInstance, SecondStartInTheSameDirectoryKnocksAndGivesWay) {
    QTemporaryDir dir, other;
    SingleInstance first("ZRVUpdateTest", dir.path());
    ASSERT_TRUE(first.Claim());
    QSignalSpy knocks(&first, &SingleInstance::ActivationRequested);

    SingleInstance second("ZRVUpdateTest", dir.path() + "/.");
    EXPECT_FALSE(second.Claim());
    EXPECT_TRUE(WaitUntil([&] { return knocks.count() == 1; }));

    SingleInstance elsewhere("ZRVUpdateTest", other.path());
    EXPECT_TRUE(elsewhere.Claim());
    EXPECT_NE(elsewhere.ServerName(), first.ServerName());
}

TEST(SingleInstance, SocketLeftByACrashedCopyIsTakenOver) {
    QTemporaryDir dir;
    SingleInstance probe("ZRVUpdateTest", dir.path());
    // A stale socket file: bound once, then abandoned without removal.
    QFile stale(probe.ServerName());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    EXPECT_TRUE(probe.Claim());
    SingleInstance second("ZRVUpdateTest", dir.path());
    EXPECT_FALSE(second.Claim());
}
