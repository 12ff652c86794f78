#include "server/inbound/InboundSession.h"

#include "server/inbound/InboundServer.h"
#include "server/inbound/RelayTest.h"
#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/Version.h"

#include <QSslCipher>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <exception>

namespace {

// Qt reads at most this much ahead of the dialogue. While a session waits
// for its own work (block-list test, intake) the rest stays in the kernel.
constexpr qint64 kReadBufferSize = 256 * 1024;
// A peer that sends commands without reading the replies is not heard again
// until fewer than this many bytes of replies wait for it.
constexpr qint64 kWriteBacklogLimit = 256 * 1024;

}   // namespace

InboundSession::InboundSession(InboundServer& server, int16_t slot, SessionSlot& record, QTcpSocket* socket)
    : QObject(&server),
      server_(server),
      ctx_(server.ctx_),
      slot_(slot),
      record_(record),
      socket_(socket),
      dialogue_(server.ctx_, record, slot, *this) {
    socket_->setParent(this);
    socket_->setReadBufferSize(kReadBufferSize);
}

InboundSession::~InboundSession() = default;

int64_t InboundSession::Now() const { return server_.Now(); }

void InboundSession::Start() {
    connect(socket_, &QTcpSocket::readyRead, this, &InboundSession::Feed);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (socket_->bytesToWrite() < kWriteBacklogLimit) Feed();
    });
    connect(socket_, &QTcpSocket::disconnected, this, &InboundSession::End);

    const Text address = record_.PeerAddress;
    ctx_.Log().ShowTimedEvent("Socket " + Text::number(slot_) + " Started By IP " + address);
    ctx_.Log().OsprineLog(slot_, "Connection Initiated By: " + address);
    const Text greeting[] = {
        "220-" + GetSystemId(ctx_.Bbs()) + " OSPRINE v" + kVersion + "; " + HeaderDate(),
        "220 All transactions and IP addresses are logged.",
    };
    for (const Text& line : greeting) {
        ctx_.Log().Report(slot_, "<-- " + line);
        SendMessage(line + CRLF);
    }
    ++ctx_.Stats().TotalConnections;
    ++ctx_.Stats().TotalIncoming;
    ctx_.Stats().UpdateStats();

    // A client that spoke before the greeting is heard now.
    if (socket_->bytesAvailable() > 0) QMetaObject::invokeMethod(this, &InboundSession::Feed, Qt::QueuedConnection);
}

void InboundSession::Feed() {
    if (ended_ || ctx_.Run().ServerState == ServerPhase::Closing) return;   // shutting down: the data stays unread
    DataEvent([&] {
        while (!ended_ && !dialogue_.Waiting() && !dialogue_.Ended() && socket_->bytesAvailable() > 0 &&
               socket_->bytesToWrite() < kWriteBacklogLimit) {
            // Only progress restarts the idle clock: a byte now and then does not.
            const uint64_t before = record_.Progress;
            dialogue_.Receive(socket_->readAll());
            if (record_.Progress != before) record_.LastActivity = Now();
        }
        // The replies leave now, not on the loop's next pass: the client waits for them.
        socket_->flush();
    });
}

// A session that ends during its own work leaves its slot once that work is
// over: the dialogue may still be on its way out through the slot record.
template <typename Work>
void InboundSession::DataEvent(Work work) {
    ++working_;
    try {
        work();
    } catch (const std::exception& e) {   // Qt's containers, std::bad_alloc on the peer's text: the session ends
        LogError("sckAccept_DataArrival", kVersion, "frmMain", e.what());
        End();
    }
    if (--working_ == 0 && ended_) Leave();
}

void InboundSession::Resume(const std::function<void()>& answer) {
    if (ended_) return;
    record_.LastActivity = Now();
    DataEvent(answer);
    Feed();
}

void InboundSession::SendMessage(const Text& text) {
    if (!left_ && socket_->state() == QAbstractSocket::ConnectedState) socket_->write(text);
}

void InboundSession::End() {
    if (ended_) return;
    ended_ = true;
    if (relayTest_) relayTest_->deleteLater();   // no more DNS questions for a closed session
    if (working_ == 0) Leave();
}

void InboundSession::Leave() {
    if (left_) return;
    left_ = true;
    socket_->disconnect(this);
    server_.SessionEnded(slot_, socket_);
}

void InboundSession::Abort() {
    ended_ = true;
    left_ = true;
    if (relayTest_) relayTest_->deleteLater();
    socket_->disconnect(this);
    socket_->abort();
}

// Silence and age are the peer's only while the server is not busy for it:
// a message being filed is never cut off.
void InboundSession::Supervise() {
    if (ended_ || dialogue_.Waiting()) return;
    if (Now() - record_.OpenedAt > server_.sessionLimitMs_) {
        ctx_.Log().Report(slot_, "<-- 421 Session time limit reached.");
        SendMessage(Text("421 Session time limit reached.") + CRLF);
        ++ctx_.Stats().SessionTimeLimits;
        ctx_.Stats().UpdateStats();
        End();
        return;
    }
    const int64_t idleSeconds = (Now() - record_.LastActivity) / 1000;
    if (idleSeconds > record_.IdleTimeout) {
        ctx_.Log().Report(slot_, "221 Timeout.");
        SendMessage(Text("221 Timeout.") + CRLF);
        End();
    }
}

// ---- Work the session waits for ------------------------------------------

void InboundSession::CheckRelayTest(std::function<void(bool passed)> done) {
    auto* test = new RelayTest(
        ctx_, server_.zones_, slot_, record_.PeerAddress, server_.relayQueryLimitMs_, [this] { return !ended_; },
        [this, done = std::move(done)](bool passed) {
            if (ended_) return;
            if (relayTest_) relayTest_->deleteLater();
            Resume([&] { done(passed); });
        });
    test->setParent(this);
    relayTest_ = test;
    test->Start();
}

void InboundSession::SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) {
    // The intake may answer at once or much later; the session may have
    // ended by then, and the message is the intake's either way.
    QPointer<InboundSession> self(this);
    server_.saver_.SaveMessage(message, [self, done = std::move(done)](SaveResult result) {
        if (!self) return;
        QMetaObject::invokeMethod(
            self.data(), [session = self.data(), done, result] { session->Resume([&] { done(result); }); },
            Qt::QueuedConnection);
    });
}

bool InboundSession::TlsOffered() const {
    const auto* socket = qobject_cast<const QSslSocket*>(socket_);
    return server_.TlsActive() && socket && socket->mode() == QSslSocket::UnencryptedMode;
}

// The 220 goes out in clear text; whatever the peer sent behind STARTTLS is
// dropped unread, so no command slips in from before the handshake.
void InboundSession::StartTls() {
    auto* socket = qobject_cast<QSslSocket*>(socket_);
    socket->flush();
    socket->readAll();
    connect(socket, &QSslSocket::encrypted, this, [this, socket] {
        if (!ended_)
            ctx_.Log().Report(slot_, "TLS started: " + socket->sessionCipher().protocolString().toLatin1() + " " +
                                         socket->sessionCipher().name().toLatin1());
    });
    connect(socket, &QSslSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError error) {
        if (!ended_ && error == QAbstractSocket::SslHandshakeFailedError)
            ctx_.Log().Report(slot_, "TLS handshake failed: " + socket->errorString().toLatin1());
    });
    // A client that never ends its handshake is not left to the idle time-out.
    const int limitMs = server_.tlsHandshakeLimitMs_;
    QTimer::singleShot(limitMs, this, [this, socket, limitMs] {
        if (ended_ || socket->isEncrypted()) return;
        ctx_.Log().Report(
            slot_, "TLS handshake not completed within " + Text::number(limitMs / 1000) + " seconds; session closed");
        End();
    });
    socket->setSslConfiguration(server_.serverTls_);
    socket->startServerEncryption();
}
