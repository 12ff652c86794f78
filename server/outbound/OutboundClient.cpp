#include "server/outbound/OutboundClient.h"
#include <exception>
#include "server/net/Base64.h"
#include "server/outbound/OutboundText.h"
#include "server/outbound/ReplyCode.h"
#include "server/outbound/ReturnMessage.h"
#include "server/store/ErrorLog.h"
#include "server/store/Version.h"

namespace {
constexpr int16_t kSocketSlot = 0;
using S = OutboundClient::ClientState;

Text OneLine(const Text& secret) { return clsBase64::Encode(secret).replace("\r\n", ""); }
}   // namespace

OutboundClient::OutboundClient(ServerContext& ctx, QObject* parent)
    : QObject(parent), ctx_(ctx), queue_(ctx), signing_(ctx) {
    signing_.Reload(true);
    connectWait_.setSingleShot(true);
    replyLimit_.setSingleShot(true);
    replyLimit_.setTimerType(Qt::PreciseTimer);   // a coarse timer may end a limit early
    connect(&connectWait_, &QTimer::timeout, this, &OutboundClient::OnConnectWaitOver);
    connect(&replyLimit_, &QTimer::timeout, this, &OutboundClient::OnReplyTimeout);
    connect(&pop3_, &Pop3Login::finished, this, &OutboundClient::AfterLogin);
    connect(&sckConnect_, &QTcpSocket::connected, this, &OutboundClient::OnConnected);
    connect(&sckConnect_, &QTcpSocket::readyRead, this, &OutboundClient::sckConnect_DataArrival);
    connect(&sckConnect_, &QSslSocket::encrypted, this, &OutboundClient::OnEncrypted);
    connect(&sckConnect_, &QSslSocket::sslErrors, this,
            [this](const QList<QSslError>& errors) { tlsErrors_ = errors; });
    // A long message on a slow line: the reply's limit counts from the last
    // progress of the send, not from its start.
    const auto progress = [this] {
        if (replyLimit_.isActive()) replyLimit_.start();
    };
    connect(&sckConnect_, &QSslSocket::encryptedBytesWritten, this, progress);
    connect(&sckConnect_, &QTcpSocket::bytesWritten, this, progress);
    connect(&sckConnect_, &QTcpSocket::disconnected, this, &OutboundClient::sckConnect_Close);
    connect(&sckConnect_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) { OnSocketError(); });
}

OutboundClient::~OutboundClient() { Close(); }

bool OutboundClient::IsConnected() const { return sckConnect_.state() == QAbstractSocket::ConnectedState; }

void OutboundClient::Close() {
    pop3_.Abort();
    connectWait_.stop();
    replyLimit_.stop();
    // An open connection reports its end while it is dropped (state 100); one
    // not yet made ends here.
    sckConnect_.abort();
    if (state_ == S::Connecting || state_ == S::Greeting) state_ = S::Idle;
}

// ---- Starting a connection ------------------------------------------------

void OutboundClient::Timer4_Timer() {
    if (Trim(ctx_.Bbs().queueDir).isEmpty() || ctx_.Run().ServerState == ServerPhase::Closing || Busy()) return;
    if (queue_.HasQueuedFiles()) SendOutbound();
}

void OutboundClient::SendOutbound() {
    const SettingsRecord& s = ctx_.Settings();
    if (Trim(s.ClientHost).isEmpty() || s.ClientPort == 0 || IsConnected() || !queue_.HasQueuedFiles()) return;
    // From here until the client is idle again a second tick finds it busy.
    state_ = S::Connecting;
    tls_ = LoadTlsSettings(ctx_.KeyedList());
    if (On(s.Pop3Before) && !Trim(s.Pop3Host).isEmpty() && !Trim(s.Pop3Username).isEmpty() &&
        !Trim(s.Pop3Password).isEmpty()) {
        ConnectPop3();
        return;
    }
    AfterLogin(true);
}

void OutboundClient::ConnectPop3() {
    const SettingsRecord& s = ctx_.Settings();
    Pop3Login::Account account{Trim(s.Pop3Host),     quint16(s.Pop3Port), Trim(s.Pop3Username),
                               Trim(s.Pop3Password), tls_.pop3,           tls_.clientCaFile};
    pop3_.Start(account, timeouts_.pop3Ms);
}

// The rest of SendOutbound, once the POP3 log-in (if any) is over. A log-in
// the POP3 server refused would make the upstream refuse the mail too: the
// queue waits for the next tick.
void OutboundClient::AfterLogin(bool loggedIn) {
    if (ctx_.Run().ServerState == ServerPhase::Closing || !loggedIn) {
        if (!loggedIn) ReportFault(pop3_.Failure());
        state_ = S::Idle;
        return;
    }
    queue_.Clear();
    queue_.Refresh();
    if (queue_.Count() > 0) queue_.LoadOutboundMessage(0);
    if (queue_.Loaded().IsEmpty()) {
        state_ = S::Idle;
        return;
    }
    ConnectUpstream();
}

void OutboundClient::ConnectUpstream() {
    const Text host = Trim(ctx_.Settings().ClientHost);
    const quint16 port = quint16(ctx_.Settings().ClientPort);
    replies_.Clear();
    extensions_ = {};
    tlsErrors_.clear();
    sckConnect_.abort();
    if (tls_.client != TlsMode::None) {
        QSslConfiguration config;
        Text error;
        if (!ClientTlsConfiguration(tls_.clientCaFile, config, error))
            ReportFault("TLS: " + error + "; trusting the system's CAs only.");
        sckConnect_.setSslConfiguration(config);
    }
    if (StartsEncrypted(tls_.client, port, kSubmissionsPort))
        sckConnect_.connectToHostEncrypted(QString::fromLatin1(host), port);
    else
        sckConnect_.connectToHost(QString::fromLatin1(host), port);
    ctx_.Log().ReportServer("Outbound Socket Initiated To: " + host);
    // While it runs the connection is not yet counted.
    connectWait_.start(timeouts_.connectMs);
    replyLimit_.start(timeouts_.replyMs);   // the greeting's limit
}

void OutboundClient::CountConnection() {
    connectWait_.stop();
    ctx_.Stats().TotalConnections += 1;
    ctx_.Stats().TotalOutgoing += 1;
    ctx_.Stats().UpdateStats();
}

void OutboundClient::OnConnected() {
    if (state_ != S::Connecting) return;
    state_ = S::Greeting;
    if (connectWait_.isActive()) CountConnection();
}

// A connection still pending after the wait counts as made; the greeting's
// limit and the socket's own failure report end it otherwise.
void OutboundClient::OnConnectWaitOver() {
    if (state_ == S::Connecting) CountConnection();
}

void OutboundClient::OnSocketError() {
    if (state_ == S::Closed) return;
    if (state_ == S::Connecting) {
        ctx_.Log().ReportServer("SMTP server host did not respond.");
    } else if (sckConnect_.error() == QAbstractSocket::SslHandshakeFailedError ||
               (sckConnect_.mode() != QSslSocket::UnencryptedMode && !Encrypted())) {
        const Text reason = tlsErrors_.isEmpty() ? sckConnect_.errorString().toLatin1() : TlsErrorsText(tlsErrors_);
        ReportFault("TLS handshake with " + Trim(ctx_.Settings().ClientHost) + " failed: " + reason);
    }
    sckConnect_Close();
}

// After STARTTLS the session starts over: EHLO again (RFC 3207). With
// implicit TLS the greeting follows the handshake by itself.
void OutboundClient::OnEncrypted() {
    if (state_ == S::Handshake) Enter(S::Ehlo);
}

// ---- The dialogue ----------------------------------------------------------

void OutboundClient::sckConnect_DataArrival() {
    const Text data = sckConnect_.readAll();
    if (ctx_.Run().ServerState == ServerPhase::Closing || state_ == S::Closed || state_ == S::Handshake) return;
    try {
        // A reply that overtakes our own send is not the answer to it.
        if (sckConnect_.bytesToWrite() > 0) {
            replies_.Clear();
            return;
        }
        const std::optional<Text> line = replies_.Append(data);
        if (replies_.Overflowed()) {
            ctx_.Log().ReportServer("SMTP server reply too long.");
            sckConnect_Close();
            return;
        }
        if (line) HandleReply(*line);
    } catch (const std::exception& fault) {   // Qt's containers, std::bad_alloc on a queued message: it stays queued
        LogError("sckConnect_DataArrival", kVersion, "frmMain", fault.what());
        sckConnect_Close();
    }
}

void OutboundClient::HandleReply(const Text& line) {
    const int16_t code = GetReplyCode(line, 0);
    if (code == 0) return;
    replyLimit_.stop();
    ctx_.Log().Report(kSocketSlot, "--> " + line);
    if (IsSessionRefusal(code)) {
        if (state_ == S::AuthPassword || state_ == S::AuthPlain) ShowAuth("Authentication failed.");
        ReportFault("Upstream server refused the session: " + line + "; the messages stay queued.");
        Enter(S::Quit);
        return;
    }
    if (GetReplyCode(line, 1) == 5 && state_ != S::Ehlo) {
        // The reset's reply concerns no message: the one in hand is untried.
        if (state_ != S::Reset) ReturnMessage(ctx_, queue_.CurrentFileName());
        Enter(S::Quit);
        return;
    }
    if (GetReplyCode(line, 1) == 4) queue_.RecordLastStatus(line);   // tried again later
    if (const std::optional<ClientState> next = Judge(code)) Enter(*next);
}

// A class-5 reply that speaks of the connection or the configuration, not of
// the message in hand: the greeting, HELO after a refused EHLO, STARTTLS and
// AUTH, and "authentication or TLS required" (530, RFC 4954) or "credentials
// invalid" (535) to any command. The queue waits for the sysop.
bool OutboundClient::IsSessionRefusal(int16_t code) const {
    if (code == 530 || code == 535) return true;
    if (code / 100 != 5) return false;
    switch (state_) {
    case S::Greeting:
    case S::Helo:
    case S::StartTls:
    case S::Auth:
    case S::AuthUser:
    case S::AuthPassword:
    case S::AuthPlain:
        return true;
    default:
        return false;
    }
}

bool OutboundClient::AuthWanted() const {
    const SettingsRecord& s = ctx_.Settings();
    return On(s.ClientAuth) && !Trim(s.AuthUsername).isEmpty() && !Trim(s.AuthPassword).isEmpty();
}

// Judges a reply in the state that waits for it; the state to enter next, or
// nothing when the reply changes nothing.
std::optional<OutboundClient::ClientState> OutboundClient::Judge(int16_t code) {
    switch (state_) {
    case S::Greeting:
        return code == 220 ? S::Ehlo : S::Quit;
    case S::Ehlo:
        if (code != 250) return S::Helo;   // RFC 821 servers, and a busy one
        extensions_ = UpstreamExtensions::FromEhloReply(replies_.Lines());
        return AfterHello();
    case S::Helo:
        if (code != 250) return S::Quit;
        extensions_ = {};
        return AfterHello();
    case S::StartTls:
        if (code == 220) return S::Handshake;
        ReportFault("Upstream server refused STARTTLS; the messages stay queued.");
        return S::Quit;
    case S::Auth:
        return code == 334 ? S::AuthUser : S::Mail;
    case S::AuthUser:
        return code == 334 ? S::AuthPassword : S::Mail;
    case S::AuthPassword:
    case S::AuthPlain:
        ShowAuth(code == 235 ? "Authentication successful." : "Authentication failed.");
        return S::Mail;
    case S::Mail:
        return code == 250 ? S::Rcpt : NextMessage(false);
    case S::Rcpt:
        return code == 250 ? S::Data : NextMessage(true);
    case S::Data:
        return code == 354 ? S::Body : NextMessage(true);
    case S::Body:
        if (code == 250) queue_.DeleteCurrent();
        return NextMessage(false);
    case S::Reset:
        return S::Mail;
    case S::Idle:
    case S::Connecting:
    case S::Quit:
    case S::Handshake:
    case S::Closed:
        break;
    }
    return std::nullopt;
}

// After a 250 to EHLO or HELO: TLS first when it is wanted and not yet on,
// then authentication, then the first message. Credentials go out only
// inside TLS unless the sysop chose clear text ("clienttls" = none): a
// STARTTLS line that someone on the path removed must not make them travel
// in clear.
OutboundClient::ClientState OutboundClient::AfterHello() {
    if (!Encrypted()) {
        const bool offered = extensions_.startTls && TlsAvailable();
        if (offered && (tls_.client == TlsMode::Auto || tls_.client == TlsMode::StartTls)) return S::StartTls;
        if (tls_.client == TlsMode::StartTls || tls_.client == TlsMode::Implicit) {
            ReportFault("Upstream server " + Trim(ctx_.Settings().ClientHost) +
                        " does not offer STARTTLS; the messages stay queued.");
            return S::Quit;
        }
        if (tls_.client == TlsMode::Auto && AuthWanted()) {
            ReportFault("Upstream server " + Trim(ctx_.Settings().ClientHost) +
                        " does not offer STARTTLS; the password is not sent without TLS and the messages stay "
                        "queued. If that server has no TLS, \"osprinectl config clienttls=none\" allows clear text.");
            return S::Quit;
        }
    }
    return AuthWanted() ? FirstAuthState() : S::Mail;
}

// AUTH LOGIN when the server lists it or lists no AUTH at all, AUTH PLAIN
// when it lists only that. Credentials never travel in clear text to a
// server that offered STARTTLS.
OutboundClient::ClientState OutboundClient::FirstAuthState() {
    if (!Encrypted() && extensions_.startTls) {
        ShowAuth("Authentication skipped: the server offers STARTTLS but TLS is off.");
        return S::Mail;
    }
    if (extensions_.authLogin || !extensions_.authListed) return S::Auth;
    if (extensions_.authPlain) return S::AuthPlain;
    ShowAuth("Authentication skipped: the server offers neither LOGIN nor PLAIN.");
    return S::Mail;
}

// After a message is finished: the next due one on the same connection, or
// QUIT. An accepted MAIL left a transaction open: RSET ends it first.
OutboundClient::ClientState OutboundClient::NextMessage(bool transactionOpen) {
    if (queue_.AtLastPosition()) return S::Quit;
    queue_.LoadOutboundMessage(queue_.Position() + 1);
    if (queue_.Loaded().IsEmpty()) return S::Quit;
    return transactionOpen ? S::Reset : S::Mail;
}

// Enters a state: sends the command whose reply the state waits for.
void OutboundClient::Enter(ClientState next) {
    state_ = next;
    const LoadedMessage& message = queue_.Loaded();
    switch (next) {
    case S::Ehlo:
        SendCommand("EHLO " + ctx_.Bbs().systemId);
        break;
    case S::Helo:
        SendCommand("HELO " + ctx_.Bbs().systemId);
        break;
    case S::StartTls:
        SendCommand("STARTTLS");
        break;
    case S::Handshake:
        // Nothing the server said in clear text may be read as said in TLS.
        replies_.Clear();
        tlsErrors_.clear();
        replyLimit_.start(timeouts_.replyMs);
        sckConnect_.startClientEncryption();
        break;
    case S::Auth:
        SendCommand("AUTH LOGIN");
        break;
    case S::AuthUser:
        ShowAuth("Username Sent.");
        SendSecret(Trim(ctx_.Settings().AuthUsername));
        break;
    case S::AuthPassword:
        ShowAuth("Password Sent.");
        SendSecret(Trim(ctx_.Settings().AuthPassword));
        break;
    case S::AuthPlain:
        SendAuthPlain();
        break;
    case S::Mail:
        SendCommand(IsReturnedMessage(message.text) ? Text("MAIL From:<>") : "MAIL From:<" + message.sender + ">");
        break;
    case S::Rcpt:
        SendCommand("RCPT To:<" + message.recipient + ">");
        break;
    case S::Data:
        SendCommand("DATA");
        break;
    case S::Body:
        SendBody();
        break;
    case S::Reset:
        SendCommand("RSET");
        break;
    case S::Quit:
        SendCommand("QUIT");
        sckConnect_Close();
        break;
    case S::Idle:
    case S::Connecting:
    case S::Greeting:
    case S::Closed:
        break;
    }
}

// ---- Sending ----------------------------------------------------------------

void OutboundClient::SendCommand(const Text& line) {
    ctx_.Log().Report(kSocketSlot, "<-- " + line);
    SendClientMessage(line + CRLF, timeouts_.replyMs);
}

// The user name and password travel in Base64 on one line and are never shown.
void OutboundClient::SendSecret(const Text& secret) { SendClientMessage(OneLine(secret) + CRLF, timeouts_.replyMs); }

// RFC 4616: authorisation identity (empty), NUL, user name, NUL, password,
// in Base64 on the command line; only the command word is shown.
void OutboundClient::SendAuthPlain() {
    const Text credentials = '\0' + Trim(ctx_.Settings().AuthUsername) + '\0' + Trim(ctx_.Settings().AuthPassword);
    ctx_.Log().Report(kSocketSlot, "<-- AUTH PLAIN");
    ShowAuth("Username and Password Sent.");
    SendClientMessage("AUTH PLAIN " + OneLine(credentials) + CRLF, timeouts_.replyMs);
}

void OutboundClient::ShowAuth(const Text& message) { ctx_.Log().Report(kSocketSlot, message); }

// A fault of the connection or of the configuration: the event window and
// the error log both say it.
void OutboundClient::ReportFault(const Text& text) {
    queue_.RecordLastStatus(text);
    ctx_.Log().ReportServer(text);
    LogError("SendOutbound", kVersion, "frmMain", text);
}

void OutboundClient::SendClientMessage(const Text& text, int replyLimitMs) {
    if (!IsConnected()) return;
    sckConnect_.write(text);
    replyLimit_.start(replyLimitMs);
}

// The signature covers the text exactly as the receiver will read it: every
// preparation done, the line ends made CR LF, without the transparency dots.
void OutboundClient::SendBody() {
    const Text text = ConvertCrLf(RemoveTrackingHeaders(queue_.Loaded().text));
    const Text body = AddTransparencyDots(signing_.Sign(text));
    SendClientMessage(body + "\r\n.\r\n", timeouts_.bodyReplyMs);
    ctx_.Log().Report(kSocketSlot, "<-- Sent " + NumText(body.size()) + " bytes.");
    ctx_.Stats().TotalSent += 1;
    ctx_.Stats().KBSent += float(body.size()) / 1024.0f;
    ctx_.Stats().UpdateStats();
}

// RFC 5321 reply limits: a silent server ends the connection; the message
// in hand stays queued.
void OutboundClient::OnReplyTimeout() {
    if (state_ == S::Closed) return;
    ctx_.Log().ReportServer("SMTP server did not reply in time.");
    sckConnect_Close();
}

// The connection has ended (either side). The supervision tick resets.
void OutboundClient::sckConnect_Close() {
    if (state_ == S::Closed) return;
    state_ = S::Closed;
    connectWait_.stop();
    replyLimit_.stop();
    // Lets a QUIT just written go out before the close. Over TLS it is only
    // flushed: a close_notify right behind it makes some servers drop it,
    // and the supervision tick's reset ends the connection anyway.
    if (sckConnect_.state() != QAbstractSocket::UnconnectedState) {
        sckConnect_.flush();
        if (!Encrypted()) sckConnect_.disconnectFromHost();
    }
    emit connectionEnded();
}

void OutboundClient::SupervisionTick() {
    if (state_ != S::Closed) return;
    ctx_.Log().ShowTimedEvent("Socket 0 Closed");
    ctx_.Log().OsprineLog(kSocketSlot, "Connection Terminated");
    ResetClient();
}

void OutboundClient::ResetClient() {
    // First, while the state is still 100: dropping a connection that is
    // still closing reports its end once more, which is then ignored.
    sckConnect_.abort();
    state_ = S::Idle;
    queue_.Clear();
    replies_.Clear();
    connectWait_.stop();
    replyLimit_.stop();
    ctx_.Stats().UpdateStats();
}
