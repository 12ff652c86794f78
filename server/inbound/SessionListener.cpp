#include "server/inbound/SessionListener.h"
#include <QSslSocket>
#include <cerrno>
#include <cstring>

void SessionListener::incomingConnection(qintptr descriptor) {
    QTcpSocket* socket = tlsCapable_ ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}

QByteArray SessionListener::FailureReason(quint16 port) const {
    QByteArray why;
    switch (serverError()) {
    case QAbstractSocket::SocketAccessError:
        why = std::strerror(EACCES);
        if (port < 1024) why += " (ports below 1024 need root or CAP_NET_BIND_SERVICE)";
        break;
    case QAbstractSocket::AddressInUseError:
        why = std::strerror(EADDRINUSE);
        break;
    default:
        why = errorString().toLocal8Bit();
    }
    return "port " + QByteArray::number(port) + ": " + why;
}
