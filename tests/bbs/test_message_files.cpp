#include "server/bbs/MessageFiles.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {
void Touch(const QTemporaryDir& dir, const QString& name) {
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("half a message");
}

// The id of a process that has ended and been reaped.
pid_t EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}
}   // namespace

TEST(MessageFiles, OnlyTemporariesOfEndedWritersAreRemoved) {
    QTemporaryDir dir;
    const QString ended = QStringLiteral("osprine-%1-7.tmp").arg(EndedProcess());
    const QString mine = QStringLiteral("osprine-%1-1.tmp").arg(::getpid());
    const QStringList kept = {mine,
                              "osprine-1-3.tmp",
                              "V1.D",
                              "osprine-x-1.tmp",
                              "osprine--1.tmp",
                              "osprine- 5-1.tmp",
                              "osprine-5-1.tmpx",
                              "osprine-5.tmp"};
    for (const QString& name : kept) Touch(dir, name);
    Touch(dir, ended);

    EXPECT_EQ(RemoveStaleMessageTemporaries(dir.path()), 1);
    QStringList left = QDir(dir.path()).entryList(QDir::Files);
    QStringList expected = kept;
    left.sort();
    expected.sort();
    EXPECT_EQ(left, expected);
    EXPECT_EQ(RemoveStaleMessageTemporaries(dir.filePath("missing")), 0);
}
