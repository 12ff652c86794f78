#include "server/store/SettledFiles.h"

#include "server/store/Caches.h"
#include "server/store/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <QFile>
#include <QHash>
#include <algorithm>
#include <cerrno>
#include <ctime>

namespace {

// A change made in the same clock tick as the read that kept a copy would
// leave the file's times as they were; a file changed this recently is read
// afresh every time until it has been quiet for this long.
constexpr qint64 kQuietNanoseconds = 1'000'000'000;
constexpr qint64 kLargestKept = 4 * 1024 * 1024;
constexpr qsizetype kMostKept = 16;   // the server reads a handful of such files

struct Status {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static Status Of(const struct stat& s) { return {s.st_dev, s.st_ino, s.st_size, s.st_mtim, s.st_ctim}; }
    static Status Of(const struct statx& s) {
        return {makedev(s.stx_dev_major, s.stx_dev_minor),
                s.stx_ino,
                off_t(s.stx_size),
                {s.stx_mtime.tv_sec, s.stx_mtime.tv_nsec},
                {s.stx_ctime.tv_sec, s.stx_ctime.tv_nsec}};
    }
    bool operator==(const Status& o) const {
        return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
               changed.tv_nsec == o.changed.tv_nsec;
    }
};

struct Copy {
    Status status;
    Text bytes;
};

QHash<QByteArray, Copy>& Copies() {
    static QHash<QByteArray, Copy> copies;
    static const CacheForgetter forgetting([] { copies.clear(); });
    return copies;
}

qint64 Nanoseconds(const timespec& t) { return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

bool Quiet(const Status& s) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 last = std::max(Nanoseconds(s.modified), Nanoseconds(s.changed));
    return Nanoseconds(now) - last > kQuietNanoseconds;
}

}   // namespace

Text ReadSettledFile(const QString& path, bool* ok) {
    const QByteArray name = QFile::encodeName(path);
    QHash<QByteArray, Copy>& copies = Copies();
    // Forced to the file's own status: a network file system must not answer
    // from its attribute cache, or an edit could go unseen for seconds.
    struct statx now {};
    if (::statx(AT_FDCWD, name.constData(), AT_STATX_FORCE_SYNC, STATX_BASIC_STATS, &now) == 0) {
        const auto kept = copies.constFind(name);
        if (kept != copies.constEnd() && kept->status == Status::Of(now)) {
            if (ok) *ok = true;
            return kept->bytes;
        }
    }
    copies.remove(name);
    struct stat read {};
    bool good = false;
    Text bytes = ReadFileBytes(path, &good, &read);
    if (ok) *ok = good;
    const Status status = Status::Of(read);
    if (good && status.size <= kLargestKept && Quiet(status)) {
        if (copies.size() >= kMostKept) copies.clear();
        copies.insert(name, Copy{status, bytes});
    }
    return bytes;
}
