#include "server/store/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include "server/store/DurableFile.h"

QString PathJoin(const QString& dir, const QString& name) {
    if (dir.isEmpty()) return name;
    if (dir.endsWith('/')) return dir + name;
    return dir + '/' + name;
}

QString PathFromText(const Text& bytes) { return QFile::decodeName(Trim(bytes)); }
Text TextFromPath(const QString& path) { return QFile::encodeName(path); }

namespace {
bool HasWildcard(const QString& path) { return path.contains('*') || path.contains('?'); }

QRegularExpression PatternRegex(const QString& pattern) {
    return QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                              QRegularExpression::CaseInsensitiveOption);
}

bool SearchFinds(const QString& path, bool includeDirs) {
    const QFileInfo info(path);
    const QString pattern = info.fileName();
    if (pattern.isEmpty()) return false;
    QDir::Filters filters = QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    if (includeDirs) filters |= QDir::Dirs;
    const QRegularExpression re = PatternRegex(pattern);
    const QStringList names = QDir(info.path()).entryList(filters);
    for (const QString& n : names)
        if (re.match(n).hasMatch()) return true;
    return false;
}
}   // namespace

bool FileExists(const QString& path, bool wildcard) {
    const QString p = path.trimmed();
    if (p.isEmpty()) return false;
    if (wildcard || HasWildcard(p)) return SearchFinds(p, false);
    struct stat status {};
    return ::stat(QFile::encodeName(p).constData(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool DirExists(const QString& path, bool wildcard) {
    const QString p = path.trimmed();
    if (p.isEmpty()) return false;
    if (wildcard || HasWildcard(p)) return SearchFinds(p, true);
    struct stat status {};
    return ::stat(QFile::encodeName(p).constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

QStringList ListFiles(const QString& dir, const QString& pattern) {
    const QRegularExpression re = PatternRegex(pattern);
    QStringList out;
    const QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& n : names)
        if (re.match(n).hasMatch()) out.append(n);
    return out;
}

QString FindNameNoCase(const QString& dir, const QString& name) {
    if (QFileInfo::exists(PathJoin(dir, name))) return name;
    const QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& n : names)
        if (n.compare(name, Qt::CaseInsensitive) == 0) return n;
    return {};
}

Text ReadFileBytes(const QString& path, bool* ok, struct stat* opened) {
    // Plain system calls: lists and records are read for every message.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    struct stat local {};
    struct stat& status = opened ? *opened : local;
    if (fd < 0) {
        if (ok) *ok = false;   // errno tells why, ENOENT for a missing file
        return {};
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        if (ok) *ok = false;
        errno = EISDIR;
        return {};
    }
    Text bytes;
    bytes.resize(qsizetype(status.st_size));
    qsizetype filled = 0;
    bool good = true;
    while (true) {
        if (filled == bytes.size()) bytes.resize(filled + 65536);   // the file grew meanwhile
        const ssize_t n = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            good = n == 0;
            break;
        }
        filled += n;
    }
    const int readErrno = errno;   // the reason survives the close
    ::close(fd);
    errno = readErrno;
    bytes.truncate(filled);
    if (ok) *ok = good;
    return good ? bytes : Text();
}

Text UnreadableReason(const QString& path) {
    bool ok = true;
    ReadFileBytes(path, &ok);
    if (ok || errno == ENOENT) return {};
    return std::strerror(errno);
}

Text ReadFileText(const QString& path) {
    Text bytes = ReadFileBytes(path);
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0) bytes.truncate(nul);
    return bytes;
}

namespace {
// The temporary beside `path` that is renamed over it: a name no one else
// can have prepared, made by this call (O_EXCL) and never through a link.
int CreateTemporary(const QString& path, mode_t mode, QByteArray& temp) {
    const QFileInfo target(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name =
            "." + target.fileName() +
            QStringLiteral(".%1-%2.tmp").arg(::getpid()).arg(QRandomGenerator::global()->generate64(), 0, 16);
        temp = QFile::encodeName(PathJoin(target.path(), name));
        const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool WriteAll(int fd, const Text& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// `secret`: the file holds passwords and is its owner's only, whatever mode it had.
bool SaveFile(const QString& path, const Text& bytes, mode_t newMode, bool sync, bool secret = false) {
    const QByteArray target = QFile::encodeName(path);
    struct stat existing {};
    const bool exists = ::lstat(target.constData(), &existing) == 0;
    if (exists && S_ISLNK(existing.st_mode)) {
        errno = ELOOP;   // never written through
        return false;
    }
    QByteArray temp;
    const int fd = CreateTemporary(path, newMode, temp);
    if (fd < 0) return false;
    // A file that exists keeps its mode (a secret one excepted); a new one has no access for others.
    const bool keepMode = exists && !secret;
    bool ok = (!keepMode || ::fchmod(fd, existing.st_mode & 07777) == 0) && WriteAll(fd, bytes) &&
              (!sync || SyncFileData(fd));
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(temp.constData());
        errno = saved;
        return false;
    }
    return !sync || SyncDirectory(QFileInfo(path).path());
}
}   // namespace

bool IsSymbolicLink(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool WriteFileAtomic(const QString& path, const Text& bytes, mode_t newMode) {
    return SaveFile(path, bytes, newMode, true);
}
bool WriteSecretFileAtomic(const QString& path, const Text& bytes) {
    return SaveFile(path, bytes, kPrivateFile, true, true);
}

bool CreateExclusive(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool WriteFileAtomicUnsynced(const QString& path, const Text& bytes) {
    return SaveFile(path, bytes, kPrivateFile, false);
}

bool WriteFileText(const QString& path, const Text& text, bool keepExisting) {
    if (keepExisting && QFileInfo::exists(path)) return true;
    return WriteFileAtomic(path, text);
}

bool AppendFile(const QString& path, const Text& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                          kPrivateFile);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, bytes);
    return ::close(fd) == 0 && ok;
}

bool RemoveFile(const QString& path) { return !QFileInfo::exists(path) || QFile::remove(path); }

qint64 FileLength(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}
