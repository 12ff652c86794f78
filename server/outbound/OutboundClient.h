#pragma once
// The SMTP client that delivers the outbound queue through the one upstream
// server (ClientHost:ClientPort), optionally after a POP3 log-in, over TLS
// when the upstream offers or the settings demand it, and with AUTH LOGIN or
// AUTH PLAIN. Everything is driven by socket events and timers; no wait
// blocks the event loop.
#include <QObject>
#include <QSslSocket>
#include <QTimer>
#include <optional>
#include "server/bbs/ServerContext.h"
#include "server/net/Tls.h"
#include "server/outbound/OutboundQueue.h"
#include "server/outbound/OutboundSigning.h"
#include "server/outbound/Pop3Login.h"
#include "server/outbound/ReplyReader.h"
#include "server/outbound/UpstreamExtensions.h"

class OutboundClient : public QObject {
    Q_OBJECT
public:
    // Client states: from Ehlo on each names the command sent on entering it
    // and whose reply it waits for. The values are the ones the event log and
    // the tests know: 0 is idle, 100 a connection that has ended. Reset ends
    // an open mail transaction with RSET after a refused RCPT or DATA, before
    // the next message's MAIL.
    enum class ClientState : int16_t {
        Idle = 0,   // no connection: the outbound tick may start one
        Ehlo = 1,
        Helo = 2,
        Mail = 3,
        Rcpt = 4,
        Data = 5,
        Body = 6,
        Quit = 7,
        Auth = 8,
        AuthUser = 9,
        AuthPassword = 10,
        Reset = 11,
        StartTls = 12,     // STARTTLS sent
        Handshake = 13,    // TLS handshake after the upstream's 220 to STARTTLS
        AuthPlain = 14,    // AUTH PLAIN with the credentials sent
        Connecting = 15,   // the POP3 log-in, the queue's first look and the connection under way
        Greeting = 16,     // connected, waiting for the upstream's greeting
        Closed = 100,
    };

    // How long the client waits. Reply limits as RFC 5321 sets them, each
    // counted from the moment the command has gone out completely.
    struct Timeouts {
        int connectMs = 5000;               // then a pending connection counts as made
        int replyMs = 5 * 60 * 1000;        // greeting and each command's reply
        int bodyReplyMs = 10 * 60 * 1000;   // the reply after the message body
        int pop3Ms = 30 * 1000;             // the whole POP3 log-in
    };

    // The SMTP port of implicit TLS (RFC 8314).
    static constexpr quint16 kSubmissionsPort = 465;

    explicit OutboundClient(ServerContext& ctx, QObject* parent = nullptr);
    ~OutboundClient() override;

    // The outbound tick (every 60 s while SmtpClient = 1).
    void Timer4_Timer();
    // The outbound part of the one-second supervision: a connection that has
    // ended is reported and the client returned to idle.
    void SupervisionTick();
    bool IsConnected() const;
    // Shut-down: drops the connection at once.
    void Close();

    ClientState CurrentState() const { return state_; }
    int16_t State() const { return int16_t(state_); }
    // Starting, in a dialogue, or waiting for the reset: a tick does nothing.
    bool Busy() const { return state_ != ClientState::Idle; }
    void SetTimeouts(const Timeouts& timeouts) { timeouts_ = timeouts; }
    // Reads the DKIM settings and key afresh (see OutboundSigning::Reload).
    void ReloadSigning(bool reportAgain) { signing_.Reload(reportAgain); }

signals:
    // The connection has ended (state 100); the next supervision tick resets.
    void connectionEnded();

private:
    // Starting a connection.
    void SendOutbound();
    void ConnectPop3();
    void AfterLogin(bool loggedIn);
    void ConnectUpstream();
    void OnConnected();
    void OnConnectWaitOver();
    void OnSocketError();
    void OnEncrypted();
    void CountConnection();

    // The dialogue: each reply is judged in the state that waits for it, and
    // the state it leads to is entered, which sends that state's command.
    void sckConnect_DataArrival();
    void sckConnect_Close();
    void HandleReply(const Text& line);
    bool IsSessionRefusal(int16_t code) const;
    std::optional<ClientState> Judge(int16_t code);
    ClientState AfterHello();
    ClientState FirstAuthState();
    ClientState NextMessage(bool transactionOpen);
    void Enter(ClientState next);

    // Sending.
    void SendCommand(const Text& line);
    void SendSecret(const Text& secret);
    void SendAuthPlain();
    void SendClientMessage(const Text& text, int replyLimitMs);
    void SendBody();
    void ShowAuth(const Text& message);
    void ReportFault(const Text& text);

    bool AuthWanted() const;
    bool Encrypted() const { return sckConnect_.isEncrypted(); }
    void OnReplyTimeout();
    void ResetClient();

    ServerContext& ctx_;
    OutboundQueue queue_;
    OutboundSigning signing_;
    Pop3Login pop3_;
    QSslSocket sckConnect_;
    QTimer connectWait_;
    QTimer replyLimit_;
    ReplyReader replies_;
    Timeouts timeouts_;
    TlsSettings tls_;                 // read afresh for each connection
    UpstreamExtensions extensions_;   // of the last EHLO reply
    QList<QSslError> tlsErrors_;      // of the handshake under way

    ClientState state_ = ClientState::Idle;
};
