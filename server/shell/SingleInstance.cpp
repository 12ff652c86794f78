#include "server/shell/SingleInstance.h"

#include <sys/socket.h>
#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QTimer>

namespace {
// A peer that says nothing is dropped after this long.
constexpr int kPeerLimitMs = 5000;
}   // namespace

QString SingleInstance::NameFor(const QString& workingDir) {
    const QByteArray dir = QDir(workingDir).canonicalPath().toUtf8();
    return "osprine-" + QString::fromLatin1(QCryptographicHash::hash(dir, QCryptographicHash::Sha1).toHex().left(16));
}

SingleInstance::SingleInstance(const QString& workingDir, QObject* parent)
    : QObject(parent), name_(NameFor(workingDir)) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] { OnCommand(peer); });
            QTimer::singleShot(kPeerLimitMs, peer, [peer] { peer->abort(); });
        }
    });
}

void SingleInstance::OnCommand(QLocalSocket* peer) {
    if (!peer->canReadLine()) {
        if (peer->bytesAvailable() > kMaxCommand) peer->abort();
        return;
    }
    const QByteArray command = peer->readLine(kMaxCommand).trimmed();
    if (command == "activate") {
        emit activateRequested();
    } else if (handler_) {
        peer->write(handler_(command));
    }
    peer->disconnectFromServer();
}

bool SingleInstance::ActivateRunningCopy(qint64* pid) {
    // Runs before the event loop starts, so a short blocking wait is harmless.
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(1000)) return false;
    // The running copy's process, as the system knows the socket's other end.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (pid && ::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0)
        *pid = peer.pid;
    socket.write("activate\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::Listen() {
    QLocalServer::removeServer(name_);   // a copy that crashed leaves its name behind
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    return server_.listen(name_);
}
