#include "tools/mailbase/TosserFlag.h"

#include "server/store/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>

namespace {

// Whether the open file is still the one the path names (the previous
// holder may have removed it between our open and our lock).
bool StillNamed(int fd, const QByteArray& path) {
    struct stat open {
    }, named{};
    return ::fstat(fd, &open) == 0 && ::stat(path.constData(), &named) == 0 && open.st_ino == named.st_ino &&
           open.st_dev == named.st_dev;
}

}   // namespace

TosserFlag::~TosserFlag() { Lower(); }

TosserFlag::Result TosserFlag::Raise(const QString& mainDir, int node) {
    Lower();
    const QString path = PathJoin(mainDir, "BT" + QString::number(node) + ".FLG");
    const QByteArray name = QFile::encodeName(path);
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return Result::Failed;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return Result::Busy;
        }
        if (StillNamed(fd, name)) {
            fd_ = fd;
            path_ = path;
            return Result::Held;
        }
        ::close(fd);
    }
    return Result::Failed;
}

void TosserFlag::Lower() {
    if (fd_ < 0) return;
    // Removed while still locked, so no other tosser can take the old file.
    ::unlink(QFile::encodeName(path_).constData());
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}
