#include "server/store/DurableFile.h"
#include "server/store/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace {

// Every byte at the offset, however the system cuts the writes.
bool WriteAllAt(int fd, const char* data, qint64 size, qint64 offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

// Opens for writing; *created tells whether the file is new (so that its
// directory is synced too), *length how long it is. -1 with *error set when
// it cannot be opened.
int OpenForWriting(const QString& path, bool* created, qint64* length, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    *created = false;
    if (fd < 0 && errno == ENOENT) {
        // The BBS's programs write these files too (its e-mail base and spool).
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kSharedFile);
        *created = fd >= 0;
    }
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        *error = SystemError(path);
        if (fd >= 0) ::close(fd);
        return -1;
    }
    *length = st.st_size;
    return fd;
}

// Writes at the offset and syncs; on failure the file is cut back to `oldLength`.
bool WriteAndSync(const QString& path, int fd, bool created, const Text& bytes, qint64 offset, qint64 oldLength,
                  QString* error) {
    bool ok = WriteAllAt(fd, bytes.constData(), bytes.size(), offset) && SyncFileData(fd);
    if (!ok) {
        *error = SystemError(path);
        if (::ftruncate(fd, off_t(oldLength)) == 0) SyncFileData(fd);
    }
    if (::close(fd) != 0 && ok) {
        *error = SystemError(path);
        ok = false;
    }
    if (ok && created && !SyncDirectory(QFileInfo(path).absolutePath())) {
        *error = SystemError(QFileInfo(path).absolutePath());
        ok = false;
    }
    return ok;
}

}   // namespace

bool AppendDurably(const QString& path, const Text& bytes, qint64* start, QString* error, qint64 maxLength) {
    bool created = false;
    qint64 length = 0;
    const int fd = OpenForWriting(path, &created, &length, error);
    if (fd < 0) return false;
    if (maxLength >= 0 && length + bytes.size() > maxLength) {
        *error = path + ": the file would grow beyond " + QString::number(maxLength) + " bytes";
        ::close(fd);
        return false;
    }
    if (start) *start = length;
    return WriteAndSync(path, fd, created, bytes, length, length, error);
}

bool WriteDurablyAt(const QString& path, qint64 offset, const Text& bytes, QString* error) {
    bool created = false;
    qint64 length = 0;
    const int fd = OpenForWriting(path, &created, &length, error);
    if (fd < 0) return false;
    // Only what lay beyond the old end can be taken back; bytes written over
    // are a whole record or counter, written by one call.
    return WriteAndSync(path, fd, created, bytes, offset, std::max(length, offset), error);
}

bool CutBackDurably(const QString& path, qint64 length) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::ftruncate(fd, off_t(length)) == 0 && SyncFileData(fd);
    ::close(fd);
    return ok;
}

bool SyncDirectory(const QString& directory) {
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
#ifdef OSPRINE_NO_FSYNC
    const bool ok = true;
#else
    const bool ok = ::fsync(fd) == 0;
#endif
    ::close(fd);
    return ok;
}

QString SystemError(const QString& path) { return path + ": " + QString::fromLocal8Bit(std::strerror(errno)); }

bool SyncFileData(int fd) {
#ifdef OSPRINE_NO_FSYNC
    (void)fd;
    return true;
#else
    return ::fdatasync(fd) == 0;
#endif
}
