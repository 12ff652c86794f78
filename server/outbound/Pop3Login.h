#pragma once
// POP3 before SMTP: logs in to the POP3 server (USER, PASS, QUIT) so that
// the upstream SMTP server lets this host send. The replies are not
// examined: the greeting triggers USER, the next arrival PASS, the next
// QUIT. Nothing of the exchange is shown or logged.
#include "server/store/Text.h"
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

class Pop3Login : public QObject {
    Q_OBJECT
public:
    explicit Pop3Login(QObject* parent = nullptr);

    // ConnectPop3. `finished` follows once, when QUIT has been sent, the
    // connection failed or closed, or `limitMs` passed.
    void Start(const Text& host, quint16 port, const Text& user, const Text& password, int limitMs);
    void Abort();
    bool Active() const { return active_; }

signals:
    void finished();

private:
    void OnDataArrival();
    void Finish();
    void Send(const Text& line);

    QTcpSocket socket_;
    QTimer limit_;
    Text user_, password_;
    int16_t state_ = 0;
    bool active_ = false;
    bool quitSent_ = false;
};
