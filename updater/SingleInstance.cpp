#include "updater/SingleInstance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalSocket>

namespace {

// The session's runtime directory when it is this user's and no one else
// may write there; else the temporary directory.
QString SocketDirectory() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime.startsWith('/') && lstat(runtime.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == geteuid() && (st.st_mode & 022) == 0)
        return QFile::decodeName(runtime);
    return QDir::tempPath();
}

// The program listening at the other end runs as this user or as root.
bool PeerIsOurs(qintptr fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
    return peer.uid == geteuid() || peer.uid == 0;
}

}   // namespace

SingleInstance::SingleInstance(const QString& program, const QString& workDir, QObject* parent) : QObject(parent) {
    QString dir = QDir(workDir).canonicalPath();
    if (dir.isEmpty()) dir = QDir(workDir).absolutePath();
    const QByteArray hash = QCryptographicHash::hash(dir.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    name_ = SocketDirectory() + QLatin1Char('/') + program + QLatin1Char('-') + QString::fromLatin1(hash);
    // No socket options: with them the server would replace a running copy's
    // socket instead of failing to listen. A knock only raises a window.
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        // A later start knocks; what it sends does not matter.
        while (QLocalSocket* knock = server_.nextPendingConnection()) {
            knock->disconnectFromServer();
            knock->deleteLater();
        }
        emit ActivationRequested();
    });
}

bool SingleInstance::Listen() { return server_.listen(name_); }

bool SingleInstance::Claim() {
    if (Listen()) return true;
    if (server_.serverError() != QAbstractSocket::AddressInUseError) return true;   // no guard possible: run anyway

    // Start-up runs before the event loop, so a short bounded wait is harmless here.
    QLocalSocket first;
    first.connectToServer(name_);
    if (first.waitForConnected(2000)) {
        if (!PeerIsOurs(first.socketDescriptor())) {
            problem_ = name_ + " is held by another user; running without the single-copy guard";
            return true;
        }
        first.write("activate\n");
        first.waitForBytesWritten(1000);
        first.disconnectFromServer();
        return false;
    }
    // A socket left behind by a copy that crashed.
    QLocalServer::removeServer(name_);
    Listen();
    return true;
}
