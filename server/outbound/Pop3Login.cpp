#include "server/outbound/Pop3Login.h"

namespace {
// Longest line kept while waiting for its end; a longer one ends the log-in.
constexpr qsizetype kMaxLine = 4096;
}   // namespace

Pop3Login::Pop3Login(QObject* parent) : QObject(parent) {
    limit_.setSingleShot(true);
    limit_.setTimerType(Qt::PreciseTimer);   // a coarse timer may end a limit early
    connect(&limit_, &QTimer::timeout, this, [this] { Finish(true); });
    connect(&socket_, &QTcpSocket::readyRead, this, &Pop3Login::OnDataArrival);
    connect(&socket_, &QSslSocket::encrypted, this, &Pop3Login::OnEncrypted);
    connect(&socket_, &QTcpSocket::connected, this, [this] { tcpConnected_ = true; });
    // Unreachable, closed or silent: the upstream may not need the log-in.
    connect(&socket_, &QTcpSocket::disconnected, this, [this] { Finish(true); });
    connect(&socket_, &QTcpSocket::errorOccurred, this, &Pop3Login::OnError);
}

void Pop3Login::Start(const Account& account, int limitMs) {
    Abort();
    account_ = account;
    buffer_.clear();
    failure_.clear();
    stlsOffered_ = false;
    tcpConnected_ = false;
    step_ = Step::Greeting;
    active_ = true;
    limit_.start(limitMs);
    if (account.tls != TlsMode::None) {
        QSslConfiguration config;
        Text error;
        ClientTlsConfiguration(account.caFile, config, error);   // the upstream's client reports a bad CA file
        socket_.setSslConfiguration(config);
    }
    const QString host = QString::fromLatin1(account.host);
    if (StartsEncrypted(account.tls, account.port, kPop3sPort))
        socket_.connectToHostEncrypted(host, account.port);
    else
        socket_.connectToHost(host, account.port);
}

void Pop3Login::Abort() {
    active_ = false;
    limit_.stop();
    socket_.abort();
}

void Pop3Login::OnDataArrival() {
    buffer_ += socket_.readAll();
    qsizetype start = 0;
    for (qsizetype end; active_ && (end = buffer_.indexOf('\n', start)) >= 0; start = end + 1) {
        Text line = buffer_.mid(start, end - start);
        if (line.endsWith('\r')) line.chop(1);
        OnReply(line);
    }
    buffer_.remove(0, start);
    if (buffer_.size() > kMaxLine) Refuse("POP3 server reply too long");
}

void Pop3Login::OnReply(const Text& line) {
    if (!active_) return;
    if (step_ == Step::Capa) {
        OnCapa(line);
        return;
    }
    const bool ok = line.startsWith("+OK");
    switch (step_) {
    case Step::Greeting:
        if (!ok) return Refuse("POP3 server greeted with: " + line);
        if (socket_.isEncrypted() || account_.tls == TlsMode::None) return SendUser();
        return Send(Step::Capa, "CAPA");
    case Step::Stls:
        if (!ok) return Refuse("POP3 server refused STLS: " + line);
        // Nothing the server sent in clear text may be read as sent in TLS.
        buffer_.clear();
        step_ = Step::Handshake;
        socket_.startClientEncryption();
        return;
    case Step::User:
        if (!ok) return Refuse("POP3 server refused the user name: " + line);
        return Send(Step::Pass, "PASS " + account_.password);
    case Step::Pass:
        if (!ok) return Refuse("POP3 server refused the password: " + line);
        Send(Step::Quit, "QUIT");
        socket_.disconnectFromHost();   // the log-in is over once the server has closed
        return;
    default:
        return;
    }
}

// The CAPA reply: "+OK", capability lines, "." (or "-ERR" from a server
// without CAPA, which offers no STLS then).
void Pop3Login::OnCapa(const Text& line) {
    if (line.startsWith("-ERR") || line == ".") {
        if (stlsOffered_ && TlsAvailable()) return Send(Step::Stls, "STLS");
        if (account_.tls == TlsMode::StartTls) return Refuse("POP3 server " + account_.host + " does not offer STLS");
        // The password goes out in clear only where the sysop chose so ("pop3tls" = none).
        return Refuse("POP3 server " + account_.host +
                      " does not offer STLS; the password is not sent without TLS. If that server has no TLS, "
                      "\"osprinectl config pop3tls=none\" allows clear text");
    }
    if (line.trimmed().toUpper() == "STLS") stlsOffered_ = true;
}

// After STLS the session starts over in TLS (RFC 2595): the log-in follows.
void Pop3Login::OnEncrypted() {
    if (step_ == Step::Handshake) SendUser();
}

void Pop3Login::OnError() {
    if (!active_) return;
    const bool handshaking = tcpConnected_ && socket_.mode() != QSslSocket::UnencryptedMode && !socket_.isEncrypted();
    if (handshaking || socket_.error() == QAbstractSocket::SslHandshakeFailedError) {
        const QList<QSslError> errors = socket_.sslHandshakeErrors();
        Refuse("TLS handshake with " + account_.host +
               " failed: " + (errors.isEmpty() ? socket_.errorString().toLatin1() : TlsErrorsText(errors)));
        return;
    }
    Finish(true);
}

void Pop3Login::SendUser() { Send(Step::User, "USER " + account_.user); }

void Pop3Login::Send(Step next, const Text& line) {
    step_ = next;
    socket_.write(line + CRLF);
}

void Pop3Login::Refuse(const Text& why) {
    failure_ = "POP3 log-in failed: " + why;
    Finish(false);
}

void Pop3Login::Finish(bool loggedIn) {
    if (!active_) return;
    active_ = false;
    limit_.stop();
    socket_.abort();
    emit finished(loggedIn);
}
