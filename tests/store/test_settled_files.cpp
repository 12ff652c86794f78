#include "server/store/Caches.h"
#include "server/store/Files.h"
#include "server/store/SettledFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>

namespace {
timespec ModifiedTime(const QString& path) {
    struct stat s {};
    ::stat(QFile::encodeName(path).constData(), &s);
    return s.st_mtim;
}

// Rewrites the file's bytes where they are and puts its modification time
// back, as a careless tool might: only the change time tells.
void OverwriteKeepingTime(const QString& path, const Text& bytes) {
    const timespec before = ModifiedTime(path);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.constData(), size_t(bytes.size()), 0), bytes.size());
    ::close(fd);
    const timespec times[2] = {before, before};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

Text Read(const QString& path, bool* ok = nullptr) { return ReadSettledFile(path, ok); }
}   // namespace

TEST(SettledFiles, EveryChangeToAQuietFileIsSeenByTheNextRead) {
    ForgetCaches();
    QTemporaryDir dir;
    const QString inPlace = dir.filePath("OSPRDATA.DAT"), replaced = dir.filePath("NET.9"),
                  removed = dir.filePath("HANDLES.UIP"), grown = dir.filePath("NETWORKS.LST");
    for (const QString& path : {inPlace, replaced, removed, grown})
        ASSERT_TRUE(WriteFileAtomic(path, "aliases=one\r\n"));
    QThread::msleep(1100);   // quiet long enough to be kept
    for (const QString& path : {inPlace, replaced, removed, grown}) ASSERT_EQ(Read(path), "aliases=one\r\n");

    OverwriteKeepingTime(inPlace, "aliases=two\r\n");
    EXPECT_EQ(Read(inPlace), "aliases=two\r\n");

    const timespec old = ModifiedTime(replaced);
    const QString fresh = dir.filePath("fresh");
    ASSERT_TRUE(WriteFileAtomic(fresh, "aliases=six\r\n"));
    const timespec times[2] = {old, old};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(fresh).constData(), times, 0), 0);
    ASSERT_EQ(::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(replaced).constData()), 0);
    EXPECT_EQ(Read(replaced), "aliases=six\r\n");

    ASSERT_TRUE(QFile::remove(removed));
    bool ok = true;
    EXPECT_EQ(Read(removed, &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(errno, ENOENT);

    ASSERT_TRUE(AppendFile(grown, "domains=x\r\n"));
    EXPECT_EQ(Read(grown), "aliases=one\r\ndomains=x\r\n");
}

TEST(SettledFiles, FailuresAreReportedLikeAPlainRead) {
    ForgetCaches();
    QTemporaryDir dir;
    bool ok = true;
    EXPECT_EQ(Read(dir.filePath("missing"), &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(errno, ENOENT);
    ok = true;
    EXPECT_EQ(Read(dir.path(), &ok), "");
    EXPECT_FALSE(ok);
}
