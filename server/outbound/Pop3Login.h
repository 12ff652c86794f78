#pragma once
// POP3 before SMTP: logs in to the POP3 server (USER, PASS, QUIT) so that
// the upstream SMTP server lets this host send. Over TLS when the settings
// ask for it or, in mode "auto", when the server offers STLS (RFC 2595) or
// listens on 995. Every reply is checked: "-ERR" to USER or PASS ends the
// log-in as refused. Nothing of the exchange is shown or logged; a refusal
// is reported by the caller through Failure().
#include <QObject>
#include <QSslSocket>
#include <QTimer>
#include "server/net/Tls.h"

class Pop3Login : public QObject {
    Q_OBJECT
public:
    // The POP3 port of implicit TLS.
    static constexpr quint16 kPop3sPort = 995;

    struct Account {
        Text host;
        quint16 port = 110;
        Text user, password;
        TlsMode tls = TlsMode::None;
        QString caFile;   // further CAs to trust
    };

    explicit Pop3Login(QObject* parent = nullptr);

    // ConnectPop3. `finished` follows once: with true when the server took
    // the log-in, or when it could not be reached or stayed silent for
    // `limitMs` (the upstream may not need it); with false when it refused
    // the user or password, or TLS failed.
    void Start(const Account& account, int limitMs);
    void Abort();
    bool Active() const { return active_; }
    // Why the last log-in was refused.
    const Text& Failure() const { return failure_; }

signals:
    void finished(bool loggedIn);

private:
    // What the next reply answers.
    enum class Step { Greeting, Capa, Stls, Handshake, User, Pass, Quit };

    void OnDataArrival();
    void OnReply(const Text& line);
    void OnCapa(const Text& line);
    void OnEncrypted();
    void OnError();
    void SendUser();
    void Send(Step next, const Text& line);
    void Refuse(const Text& why);
    void Finish(bool loggedIn);

    QSslSocket socket_;
    QTimer limit_;
    Account account_;
    Text buffer_;
    Text failure_;
    Step step_ = Step::Greeting;
    bool stlsOffered_ = false;
    bool tcpConnected_ = false;
    bool active_ = false;
};
