#pragma once
// The SMTP client that delivers the outbound queue through the one upstream
// server (ClientHost:ClientPort), optionally after a POP3 log-in and with
// AUTH LOGIN. Everything is driven by socket events and timers; no wait
// blocks the event loop.
#include "server/bbs/ServerContext.h"
#include "server/outbound/OutboundQueue.h"
#include "server/outbound/Pop3Login.h"
#include "server/outbound/ReplyReader.h"
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

class OutboundClient : public QObject {
    Q_OBJECT
public:
    // Client states. kReset ends an open mail transaction with RSET after a
    // refused RCPT or DATA, before the next message's MAIL.
    enum : int16_t {
        kGreeting = 0, kEhlo = 1, kHelo = 2, kMail = 3, kRcpt = 4, kData = 5, kBody = 6, kQuit = 7,
        kAuth = 8, kAuthUser = 9, kAuthPassword = 10, kReset = 11, kClosed = 100,
    };

    // How long the client waits. Reply limits as RFC 5321 sets them, each
    // counted from the moment the command has gone out completely.
    struct Timeouts {
        int connectMs = 5000;         // then a pending connection counts as made
        int replyMs = 5 * 60 * 1000;  // greeting and each command's reply
        int bodyReplyMs = 10 * 60 * 1000;  // the reply after the message body
        int pop3Ms = 30 * 1000;       // the whole POP3 log-in
    };

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

    int16_t State() const { return state_; }
    // Starting, in a dialogue, or waiting for the reset: a tick does nothing.
    bool Busy() const;
    void SetTimeouts(const Timeouts& timeouts) { timeouts_ = timeouts; }

signals:
    // The connection has ended (state 100); the next supervision tick resets.
    void connectionEnded();

private:
    // Starting a connection.
    void SendOutbound();
    void ConnectPop3();
    void ConnectUpstream();
    void OnConnected();
    void OnConnectWaitOver();
    void OnSocketError();
    void CountConnection();
    bool AuthWanted() const;

    // The dialogue.
    void sckConnect_DataArrival();
    void sckConnect_Close();
    void HandleReply(const Text& line);
    bool Step(int16_t code);
    void SendCommand(const Text& line);
    void SendSecret(const Text& line);
    void SendClientMessage(const Text& text, int replyLimitMs);
    void SendBody();
    void GoToNextMessage(bool transactionOpen);
    void AfterLogin();
    void ShowAuth(const Text& message);
    void OnReplyTimeout();
    void ResetClient();

    ServerContext& ctx_;
    OutboundQueue queue_;
    Pop3Login pop3_;
    QTcpSocket sckConnect_;
    QTimer connectWait_;
    QTimer replyLimit_;
    ReplyReader replies_;
    Timeouts timeouts_;

    int16_t state_ = kGreeting;
    bool awaiting_ = false;
    bool starting_ = false;     // SendOutbound is between its first check and the connection
    bool connected_ = false;       // the upstream accepted the connection
    bool connectCounted_ = false;
};
