#include "server/shell/ControlSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace control {
namespace {

// The private directory in the working directory, when no runtime directory is given.
const char* const kOwnDir = "OSPRCTL";

QString Errno() { return QString::fromLocal8Bit(std::strerror(errno)); }

// A directory this user may trust: a real directory (not a link), owned by
// this user (or root, when `rootToo`), that no one else can write.
bool Trusted(const QString& dir, bool rootToo = true) {
    struct stat st {};
    if (lstat(QFile::encodeName(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return (st.st_uid == geteuid() || (rootToo && st.st_uid == 0)) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The first directory of a colon-separated list in the environment variable.
QString FromEnvironment(const char* name) {
    const QString value = qEnvironmentVariable(name);
    return value.section(':', 0, 0);
}

// The runtime directories given by the service manager or the session, in that order.
QStringList RuntimeDirectories(bool rootToo) {
    QStringList dirs;
    for (const char* name : {"RUNTIME_DIRECTORY", "XDG_RUNTIME_DIR"}) {
        const QString dir = FromEnvironment(name);
        if (dir.startsWith('/') && Trusted(dir, rootToo)) dirs << dir;
    }
    return dirs;
}

// Makes (or checks) the private directory: ours, a directory, no access for others.
bool OwnDirectory(const QString& dir, QString& why) {
    const QByteArray name = QFile::encodeName(dir);
    if (mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
        why = "cannot make " + dir + ": " + Errno();
        return false;
    }
    struct stat st {};
    if (lstat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        why = dir + " is not a directory of this user";
        return false;
    }
    if ((st.st_mode & 077) != 0 && chmod(name.constData(), 0700) != 0) {
        why = "cannot make " + dir + " private: " + Errno();
        return false;
    }
    return true;
}

// Fills the address for `path`. A path longer than a socket address holds is
// given relative to the current directory when it lies beneath it.
bool Address(const QString& path, sockaddr_un& address) {
    QByteArray name = QFile::encodeName(path);
    if (name.size() >= int(sizeof address.sun_path)) {
        const QByteArray here = QFile::encodeName(QDir::currentPath()) + '/';
        if (!name.startsWith(here)) return false;
        name = name.mid(here.size());
        if (name.size() >= int(sizeof address.sun_path)) return false;
    }
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    return true;
}

bool IsSocket(const QString& path) {
    struct stat st {};
    return lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// A socket there, or a directory this user may not look into: trying it
// tells which (and a refused caller hears "permission denied").
bool WorthTrying(const QString& path) { return IsSocket(path) || errno == EACCES; }

// Waits up to `limitMs` for `events` on `fd`.
bool WaitFor(int fd, short events, int limitMs) {
    pollfd p{fd, events, 0};
    int n;
    do n = poll(&p, 1, limitMs);
    while (n < 0 && errno == EINTR);
    return n > 0;
}

}   // namespace

QString SocketName(const QString& workingDir) {
    const QByteArray dir = QDir(workingDir).canonicalPath().toUtf8();
    return "osprine-" + QString::fromLatin1(QCryptographicHash::hash(dir, QCryptographicHash::Sha1).toHex().left(16));
}

QString ListenPath(const QString& workingDir, QString& why) {
    const QStringList runtime = RuntimeDirectories(false);
    if (!runtime.isEmpty()) return runtime.first() + '/' + SocketName(workingDir);
    const QString own = QDir(workingDir).absoluteFilePath(kOwnDir);
    if (!OwnDirectory(own, why)) return QString();
    return own + '/' + SocketName(workingDir);
}

QStringList Candidates(const QString& workingDir) {
    QStringList dirs = RuntimeDirectories(true);
    // A service instance's runtime directory, as the unit names it: /run/osprine/<instance>.
    for (const QFileInfo& entry : QDir("/run/osprine").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (Trusted(entry.filePath())) dirs << entry.filePath();
    const QString session = QString("/run/user/%1").arg(geteuid());
    if (Trusted(session)) dirs << session;
    const QString own = QDir(workingDir).absoluteFilePath(kOwnDir);
    if (Trusted(own)) dirs << own;
    QStringList paths;
    for (const QString& dir : dirs) {
        const QString path = dir + '/' + SocketName(workingDir);
        if (!paths.contains(path) && WorthTrying(path)) paths << path;
    }
    return paths;
}

bool PeerTrusted(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
    return peer.uid == geteuid() || peer.uid == 0;
}

Reach Ask(const QString& path, const QByteArray& command, QByteArray& answer, int limitMs, QString* why,
          qint64* peerPid) {
    sockaddr_un address{};
    if (!Address(path, address)) {
        if (why) *why = path + ": the name is too long for a local socket";
        return Reach::Failed;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (why) *why = Errno();
        return Reach::Failed;
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (why) *why = path + ": " + Errno();
        return errno == ECONNREFUSED || errno == ENOENT ? Reach::NoOne : Reach::Failed;
    }
    if (!PeerTrusted(fd)) return Reach::Untrusted;
    if (peerPid) {
        ucred peer{};
        socklen_t size = sizeof peer;
        *peerPid = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 ? peer.pid : 0;
    }
    const QByteArray line = command + '\n';
    answer.clear();
    if (send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL) != line.size()) {
        if (errno == EPIPE || errno == ECONNRESET) return Reach::Answered;   // dropped without an answer
        if (why) *why = path + ": " + Errno();
        return Reach::Failed;
    }
    char buffer[4096];
    while (WaitFor(fd, POLLIN, limitMs)) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, n);
    }
    return Reach::Answered;
}

int ListenAt(const QString& path, QString& why) {
    sockaddr_un address{};
    if (!Address(path, address)) {
        why = path + ": the name is too long for a local socket";
        return -1;
    }
    // A server that ended without clean-up leaves its socket file behind.
    if (IsSocket(path)) unlink(QFile::encodeName(path).constData());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = Errno();
        return -1;
    }
    const mode_t before = umask(077);   // the socket file: its owner only
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    umask(before);
    if (!bound || listen(fd, 16) != 0) {
        why = Errno();
        close(fd);
        return -1;
    }
    return fd;
}

}   // namespace control
