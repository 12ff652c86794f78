#include "server/bbs/EmailBaseLock.h"

#include "server/bbs/EmailRecord.h"
#include "server/store/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <cstring>

EmailBaseLock::EmailBaseLock(const QString& messageDir, int waitMs) {
    const QString path = EmailDatPath(messageDir);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kSharedFile);
    if (fd < 0) {
        error_ = path + ": " + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    // The other writer holds the lock for one import at most: a short wait.
    QElapsedTimer waited;
    waited.start();
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited.elapsed() >= waitMs) {
            error_ = path + (errno == EWOULDBLOCK
                                 ? QString(": locked by another writer for ") + QString::number(waitMs / 1000) + " s"
                                 : ": " + QString::fromLocal8Bit(std::strerror(errno)));
            ::close(fd);
            return;
        }
        QThread::msleep(5);
    }
    fd_ = fd;
}

EmailBaseLock::~EmailBaseLock() {
    if (fd_ >= 0) ::close(fd_);   // closing lets go of the lock
}
