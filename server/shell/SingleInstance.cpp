#include "server/shell/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

SingleInstance::SingleInstance(const QString& workingDir, QObject* parent) : QObject(parent) {
    const QByteArray dir = QDir(workingDir).canonicalPath().toUtf8();
    name_ = "osprine-" + QString::fromLatin1(QCryptographicHash::hash(dir, QCryptographicHash::Sha1).toHex().left(16));
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            emit activateRequested();
            peer->disconnectFromServer();
        }
    });
}

bool SingleInstance::ActivateRunningCopy() {
    // Runs before the event loop starts, so a short blocking wait is harmless.
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(1000)) return false;
    socket.write("activate\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::Listen() {
    QLocalServer::removeServer(name_);  // a copy that crashed leaves its name behind
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    return server_.listen(name_);
}
