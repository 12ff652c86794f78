#include "server/inbound/SessionListener.h"
#include <QSslSocket>

void SessionListener::incomingConnection(qintptr descriptor) {
    QTcpSocket* socket = tlsCapable_ ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}
