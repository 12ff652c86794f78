#include "updater/SingleInstance.h"
#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

SingleInstance::SingleInstance(const QString& program, const QString& workDir, QObject* parent) : QObject(parent) {
    QString dir = QDir(workDir).canonicalPath();
    if (dir.isEmpty()) dir = QDir(workDir).absolutePath();
    const QByteArray hash = QCryptographicHash::hash(dir.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    name_ = program + QLatin1Char('-') + QString::fromLatin1(hash);
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
