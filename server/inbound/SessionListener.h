#pragma once
// The listening socket. While inbound TLS is active every accepted
// connection is a QSslSocket, still in clear text, so that a session can
// switch to TLS on STARTTLS; otherwise a plain QTcpSocket, which costs less.
#include <QTcpServer>

class SessionListener : public QTcpServer {
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;
    void SetTlsCapable(bool capable) { tlsCapable_ = capable; }
    // Why the last listen() on `port` failed, as the system says it:
    // "port 25: Permission denied (...)", "port 2701: Address already in use".
    QByteArray FailureReason(quint16 port) const;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    bool tlsCapable_ = false;
};
