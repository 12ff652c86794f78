#include "server/store/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

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
bool SaveFile(const QString& path, const Text& bytes, bool secret) {
    QSaveFile f(path);
    f.setDirectWriteFallback(false);
    if (!f.open(QIODevice::WriteOnly)) return false;
    if (secret && !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        f.cancelWriting();
        return false;
    }
    if (f.write(bytes) != bytes.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}
}   // namespace

bool WriteFileAtomic(const QString& path, const Text& bytes) { return SaveFile(path, bytes, false); }
bool WriteSecretFileAtomic(const QString& path, const Text& bytes) { return SaveFile(path, bytes, true); }

bool CreateExclusive(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool WriteFileAtomicUnsynced(const QString& path, const Text& bytes) {
    const QString temp = path + QStringLiteral(".%1.tmp").arg(::getpid());
    QFile f(temp);
    bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    f.close();
    ok = ok && f.error() == QFileDevice::NoError &&
         ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) QFile::remove(temp);
    return ok;
}

bool WriteFileText(const QString& path, const Text& text, bool keepExisting) {
    if (keepExisting && QFileInfo::exists(path)) return true;
    return WriteFileAtomic(path, text);
}

bool AppendFile(const QString& path, const Text& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
    const bool ok = f.write(bytes) == bytes.size();
    f.close();
    return ok && f.error() == QFileDevice::NoError;
}

bool RemoveFile(const QString& path) { return !QFileInfo::exists(path) || QFile::remove(path); }

qint64 FileLength(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}
