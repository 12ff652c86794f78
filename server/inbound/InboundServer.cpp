#include "server/inbound/InboundServer.h"

#include "server/inbound/IpRules.h"
#include "server/inbound/RelayTest.h"
#include "server/inbound/SmtpDialogue.h"
#include "server/net/IpAddress.h"
#include "server/net/Tls.h"
#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/KeyedList.h"
#include "server/store/Version.h"

#include <QElapsedTimer>
#include <QPointer>
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

// A refused connection whose peer will not take the last bytes is dropped.
constexpr int kRefusalGraceMs = 10000;

int64_t MonotonicMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

// IPv4 clients of the dual-stack listener as dotted quads, IPv6 in RFC 5952 form.
Text PeerAddressText(const QTcpSocket& socket) { return AddressText(socket.peerAddress()); }

Text SlotText(int16_t slot) { return Text::number(slot); }

}   // namespace

// What a session holds besides its slot record.
struct InboundServer::Session {
    uint64_t id = 0;
    QTcpSocket* socket = nullptr;
    std::unique_ptr<Host> host;
    std::unique_ptr<SmtpDialogue> dialogue;
    QPointer<RelayTest> relayTest;
};

// The dialogue's view of its socket, its block-list test and the intake.
class InboundServer::Host : public DialogueHost {
public:
    Host(InboundServer& server, int16_t slot) : server_(server), slot_(slot) {}
    void SendMessage(const Text& text) override { server_.SendMessage(slot_, text); }
    void EndSession() override { server_.sckAccept_Close(slot_); }
    void CheckRelayTest(std::function<void(bool)> done) override { server_.StartRelayTest(slot_, std::move(done)); }
    void SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) override {
        server_.SaveMessage(slot_, message, std::move(done));
    }
    bool TlsOffered() const override { return server_.TlsOffered(slot_); }
    void StartTls() override { server_.StartTls(slot_); }

private:
    InboundServer& server_;
    int16_t slot_;
};

InboundServer::InboundServer(ServerContext& ctx, MessageSaver& saver, QObject* parent)
    : QObject(parent), ctx_(ctx), saver_(saver), zones_(ctx), clock_(&MonotonicMs) {
    // The end-to-end tests shorten the session limit; nothing else sets this.
    if (const int seconds = qEnvironmentVariableIntValue("OSPRINE_TEST_SESSION_LIMIT_S"); seconds > 0)
        sessionLimitMs_ = int64_t(seconds) * 1000;
    ResizeSlots();
    connect(&listener_, &QTcpServer::newConnection, this, &InboundServer::sckListen_ConnectionRequest);
}

InboundServer::~InboundServer() {
    listener_.close();
    // The sockets and block-list tests are children and go with this object;
    // none of them may call back into it on the way.
    for (QObject* child : children()) child->disconnect(this);
}

// ---- Listener ------------------------------------------------------------

void InboundServer::OpenListenPort() {
    listener_.close();
    ReloadTls();
    if (!IsActive()) ResizeSlots();
    // One dual-stack socket: IPv6 clients, and IPv4 clients as mapped
    // addresses; IPv4 alone on a machine without IPv6.
    const auto port = quint16(ctx_.Settings().Port);
    if (!listener_.listen(QHostAddress::Any, port) && !listener_.listen(QHostAddress::AnyIPv4, port)) {
        ctx_.Log().MessageBox("OSPRINE - Error", "The SMTP listen port is being used by another application.");
        LogError("OpenListenPort", kVersion, "frmMain", listener_.errorString().toLatin1());
    }
}

void InboundServer::CloseListener() { listener_.close(); }

void InboundServer::ReloadTls() {
    const TlsSettings keys = LoadTlsSettings(ctx_.KeyedList());
    Text error;
    tlsActive_ = ServerTlsConfiguration(keys.serverCertFile, keys.serverKeyFile, serverTls_, error);
    listener_.SetTlsCapable(tlsActive_);
    const bool configured = !keys.serverCertFile.isEmpty() || !keys.serverKeyFile.isEmpty();
    const Text report = tlsActive_ ? "Inbound TLS active: STARTTLS offered with " + keys.serverCertFile.toLatin1() + "."
                        : configured ? "Inbound TLS not active: " + error + "."
                                     : Text();
    if (report == tlsReport_) return;
    tlsReport_ = report;
    if (report.isEmpty()) return;
    ctx_.Log().ReportServer(report);
    if (!tlsActive_) LogError("ReloadTls", kVersion, "frmMain", report);
}

bool InboundServer::TlsOffered(int16_t slot) const {
    const Session* session = sessions_[size_t(slot)].get();
    const auto* socket = session ? qobject_cast<const QSslSocket*>(session->socket) : nullptr;
    return tlsActive_ && socket && socket->mode() == QSslSocket::UnencryptedMode;
}

// The 220 goes out in clear text; whatever the peer sent behind STARTTLS is
// dropped unread, so no command slips in from before the handshake.
void InboundServer::StartTls(int16_t slot) {
    auto* socket = qobject_cast<QSslSocket*>(sessions_[size_t(slot)]->socket);
    socket->flush();
    socket->readAll();
    const uint64_t id = sessions_[size_t(slot)]->id;
    connect(socket, &QSslSocket::encrypted, this, [this, slot, id, socket] {
        if (SessionAlive(slot, id))
            ctx_.Log().Report(slot, "TLS started: " + socket->sessionCipher().protocolString().toLatin1() + " " +
                                        socket->sessionCipher().name().toLatin1());
    });
    connect(socket, &QSslSocket::errorOccurred, this, [this, slot, id, socket](QAbstractSocket::SocketError error) {
        if (SessionAlive(slot, id) && error == QAbstractSocket::SslHandshakeFailedError)
            ctx_.Log().Report(slot, "TLS handshake failed: " + socket->errorString().toLatin1());
    });
    socket->setSslConfiguration(serverTls_);
    socket->startServerEncryption();
}

void InboundServer::ResizeSlots() {
    sessions_.clear();
    slots_.assign(size_t(std::max<int16_t>(ctx_.Settings().MaxConnections, 1)) + 1, SessionSlot());
    sessions_.resize(slots_.size());
}

void InboundServer::sckListen_ConnectionRequest() { AcceptPending(); }

// Every pending connection is judged at once: a refusal is answered now and
// costs no admission. One that will get a slot waits in admitted_ for the
// accept lock, which lets one connection in per tick.
void InboundServer::AcceptPending() {
    if (!ctx_.Run().Online()) return;
    while (QTcpSocket* socket = listener_.nextPendingConnection()) Screen(socket);
    while (ctx_.Run().AcceptLock.IsOpen() && !admitted_.empty()) {
        QPointer<QTcpSocket> socket = admitted_.front();
        admitted_.pop_front();
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            Accept(socket);
        else if (socket)
            socket->deleteLater();   // it gave up waiting
    }
}

void InboundServer::Screen(QTcpSocket* socket) {
    socket->setParent(this);
    const Text address = PeerAddressText(*socket);
    const int16_t slot = GetFreeSocket();
    if (!CheckUserIp(ctx_, address)) {
        ctx_.Log().ShowEvent(TimeText() + " : Connection Refused (Blocked IP)");
        ctx_.Log().OsprineLog(slot, "Connection Refused (Blocked IP) [" + address + "]");
        Refuse(socket, Text());
        ++ctx_.Stats().BlockedIps;
        ctx_.Stats().UpdateStats();
        return;
    }
    const int limit = MaxSessionsPerAddress();
    if (limit > 0 && SessionsFrom(address) >= limit) {
        ctx_.Log().ShowEvent(TimeText() + " : Connection Refused (Too Many Connections From " + address + ")");
        Refuse(socket, Text("421 Too many connections from your address.") + CRLF);
        ++ctx_.Stats().RefusedPerAddress;
        ctx_.Stats().UpdateStats();
        return;
    }
    if (FreeSlots() <= qsizetype(admitted_.size())) {
        ctx_.Log().ShowEvent(TimeText() + " : Connection Refused (No Available Socket)");
        Refuse(socket, Text("421 No available sockets remaining.") + CRLF);
        return;
    }
    admitted_.push_back(socket);
}

int InboundServer::KeyedCount(const char* key, int fallback) const {
    const Text value = Trim(GetData(key, ctx_.KeyedList()));
    return value.isEmpty() ? fallback : int(std::clamp<int32_t>(ValLong(value), 0, 10000));
}

int InboundServer::AdmissionsPerTick() const { return KeyedCount("acceptrate", 1); }

int InboundServer::MaxSessionsPerAddress() const { return KeyedCount("maxperip", kDefaultMaxPerAddress); }

int InboundServer::SessionsFrom(const Text& address) const {
    const Text key = SessionAddressKey(address);
    int n = 0;
    for (int16_t slot = 1; slot <= HighestSlot(); ++slot)
        if (slots_[size_t(slot)].use == SlotUse::Open && SessionAddressKey(slots_[size_t(slot)].PeerAddress) == key)
            ++n;
    for (const QPointer<QTcpSocket>& waiting : admitted_)
        if (waiting && SessionAddressKey(PeerAddressText(*waiting)) == key) ++n;
    return n;
}

qsizetype InboundServer::FreeSlots() const {
    qsizetype n = 0;
    for (int16_t slot = 1; slot <= HighestSlot(); ++slot)
        if (slots_[size_t(slot)].use == SlotUse::Free) ++n;
    return n;
}

void InboundServer::Accept(QTcpSocket* socket) {
    ctx_.Run().AcceptLock.Seeking();
    int16_t slot = 0;
    Text address;
    try {
        slot = GetFreeSocket();
        if (slot > 0) ctx_.Run().AcceptLock.TakenBy(slot);
        address = PeerAddressText(*socket);
        if (slot == 0) {
            ctx_.Log().ShowEvent(TimeText() + " : Connection Refused (No Available Socket)");
            Refuse(socket, Text("421 No available sockets remaining.") + CRLF);
            return;
        }
        OpenSession(slot, socket, address);
    } catch (const std::exception& e) {
        ctx_.Log().ShowEvent(TimeText() + " : Connection Refused (Invalid Session) [" + SlotText(slot) + "]");
        ctx_.Log().OsprineLog(slot, "Connection Refused (Invalid Session) [" + address + "]");
        if (slot > 0 && sessions_[size_t(slot)])
            CloseSession(slot);
        else
            Refuse(socket, Text());
        LogError("sckListen_ConnectionRequest", kVersion, "frmMain", e.what());
    }
}

// Sends `reply` (if any) on a connection that gets no slot, then drops it.
void InboundServer::Refuse(QTcpSocket* socket, const Text& reply) {
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kRefusalGraceMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    if (!reply.isEmpty()) socket->write(reply);
    socket->disconnectFromHost();
}

// ---- Sessions ------------------------------------------------------------

int16_t InboundServer::GetFreeSocket() const {
    for (int16_t slot = 1; slot <= HighestSlot(); ++slot)
        if (slots_[size_t(slot)].use == SlotUse::Free) return slot;
    return 0;
}

void InboundServer::OpenSession(int16_t slot, QTcpSocket* socket, const Text& address) {
    auto session = std::make_unique<Session>();
    session->id = nextSessionId_++;
    session->socket = socket;
    socket->setParent(this);
    socket->setReadBufferSize(kReadBufferSize);
    SessionSlot& record = slots_[size_t(slot)];
    record.Clear();
    record.Open(Now(), address);
    session->host = std::make_unique<Host>(*this, slot);
    session->dialogue = std::make_unique<SmtpDialogue>(ctx_, record, slot, *session->host);
    const uint64_t id = session->id;
    sessions_[size_t(slot)] = std::move(session);

    connect(socket, &QTcpSocket::readyRead, this, [this, slot, id] {
        if (SessionAlive(slot, id)) sckAccept_DataArrival(slot);
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, slot, id] {
        if (SessionAlive(slot, id) && sessions_[size_t(slot)]->socket->bytesToWrite() < kWriteBacklogLimit) Feed(slot);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, slot, id] {
        if (SessionAlive(slot, id)) sckAccept_Close(slot);
    });

    ctx_.Log().ShowEvent(TimeText() + " : Socket " + SlotText(slot) + " Started By IP " + address);
    ctx_.Log().OsprineLog(slot, "Connection Initiated By: " + address);
    const Text greeting[] = {
        "220-" + GetSystemId(ctx_.Bbs()) + " OSPRINE v" + kVersion + "; " + HeaderDate(),
        "220 All transactions and IP addresses are logged.",
    };
    for (const Text& line : greeting) {
        ctx_.Log().Report(slot, "<-- " + line);
        SendMessage(slot, line + CRLF);
    }
    ++ctx_.Stats().TotalConnections;
    ++ctx_.Stats().TotalIncoming;
    ctx_.Stats().UpdateStats();

    // A client that spoke before the greeting is heard now.
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(
            this,
            [this, slot, id] {
                if (SessionAlive(slot, id)) Feed(slot);
            },
            Qt::QueuedConnection);
}

bool InboundServer::SessionAlive(int16_t slot, uint64_t id) const {
    if (slot < 1 || slot > HighestSlot()) return false;
    const Session* session = sessions_[size_t(slot)].get();
    return session && session->id == id && slots_[size_t(slot)].use == SlotUse::Open;
}

void InboundServer::sckAccept_DataArrival(int16_t slot) { Feed(slot); }

// Hands what the socket holds to the dialogue, unless the dialogue is busy
// with its own work or the peer has not taken its replies; then the input
// waits and is fed when that is over.
void InboundServer::Feed(int16_t slot) {
    if (ctx_.Run().ServerState == ServerPhase::Closing) return;   // shutting down: the data stays unread
    Session& session = *sessions_[size_t(slot)];
    SessionSlot& record = slots_[size_t(slot)];
    DataEvent(slot, [&] {
        while (record.use == SlotUse::Open && !session.dialogue->Waiting() && !session.dialogue->Ended() &&
               session.socket->bytesAvailable() > 0 && session.socket->bytesToWrite() < kWriteBacklogLimit) {
            // Only progress restarts the idle clock: a byte now and then does not.
            const uint64_t before = record.Progress;
            session.dialogue->Receive(session.socket->readAll());
            if (record.Progress != before) record.LastActivity = Now();
        }
    });
    // The replies leave now, not on the loop's next pass: the client waits for them.
    if (sessions_[size_t(slot)]) sessions_[size_t(slot)]->socket->flush();
}

// The dialogue's work for one slot: a fault ends that session, no reply.
template <typename Work>
void InboundServer::DataEvent(int16_t slot, Work work) {
    try {
        work();
    } catch (const std::exception& e) {
        LogError("sckAccept_DataArrival", kVersion, "frmMain", e.what());
        sckAccept_Close(slot);
    }
}

void InboundServer::SendMessage(int16_t slot, const Text& text) {
    const Session* session = sessions_[size_t(slot)].get();
    if (session && session->socket->state() == QAbstractSocket::ConnectedState) session->socket->write(text);
}

void InboundServer::sckAccept_Close(int16_t slot) {
    SessionSlot& record = slots_[size_t(slot)];
    if (record.use != SlotUse::Open) return;
    record.use = SlotUse::Closed;
    Session& session = *sessions_[size_t(slot)];
    if (session.relayTest) session.relayTest->deleteLater();   // no more DNS questions for a closed session
    session.socket->disconnectFromHost();                      // what was written still goes out first
}

void InboundServer::CloseSession(int16_t slot) {
    slots_[size_t(slot)].Clear();
    ctx_.Stats().UpdateStats();
    std::unique_ptr<Session> session = std::move(sessions_[size_t(slot)]);
    if (!session) return;
    if (session->relayTest) session->relayTest->deleteLater();
    session->socket->disconnect(this);
    session->socket->abort();
    session->socket->deleteLater();
}

void InboundServer::CloseAllSessions() {
    for (int16_t slot = 1; slot <= HighestSlot(); ++slot) {
        if (slots_[size_t(slot)].use == SlotUse::Free || !sessions_[size_t(slot)]) continue;
        Session& session = *sessions_[size_t(slot)];
        slots_[size_t(slot)].use = SlotUse::Closed;
        if (session.relayTest) session.relayTest->deleteLater();
        session.socket->disconnect(this);
        session.socket->abort();
    }
}

bool InboundServer::IsActive() const { return ActiveSlots() > 0; }

int32_t InboundServer::ActiveSlots() const {
    int32_t n = 0;
    for (int16_t slot = 1; slot <= HighestSlot(); ++slot)
        if (slots_[size_t(slot)].use != SlotUse::Free) ++n;
    return n;
}

// ---- Work a session waits for ----------------------------------------------

void InboundServer::StartRelayTest(int16_t slot, std::function<void(bool)> done) {
    Session& session = *sessions_[size_t(slot)];
    const uint64_t id = session.id;
    auto* test = new RelayTest(
        ctx_, zones_, slot, slots_[size_t(slot)].PeerAddress, relayQueryLimitMs_,
        [this, slot, id] { return SessionAlive(slot, id); },
        [this, slot, id, done = std::move(done)](bool passed) {
            if (!SessionAlive(slot, id)) return;
            Session& current = *sessions_[size_t(slot)];
            if (current.relayTest) current.relayTest->deleteLater();
            slots_[size_t(slot)].LastActivity = Now();
            DataEvent(slot, [&] { done(passed); });
            Feed(slot);
        });
    test->setParent(this);
    session.relayTest = test;
    test->Start();
}

void InboundServer::SaveMessage(int16_t slot, const ReceivedMessage& message, std::function<void(SaveResult)> done) {
    const uint64_t id = sessions_[size_t(slot)]->id;
    QPointer<InboundServer> self(this);
    // The intake may answer at once or much later; the session may have
    // ended by then, and the message is the intake's either way.
    saver_.SaveMessage(message, [self, slot, id, done = std::move(done)](SaveResult result) {
        if (!self) return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, slot, id, done, result] {
                if (!self->SessionAlive(slot, id)) return;
                self->slots_[size_t(slot)].LastActivity = self->Now();
                self->DataEvent(slot, [&] { done(result); });
                self->Feed(slot);
            },
            Qt::QueuedConnection);
    });
}

// ---- Supervision -------------------------------------------------------------

bool InboundServer::SupervisionTick(Text* fault) {
    try {
        for (int16_t slot = 1; slot <= HighestSlot(); ++slot) {
            if (ctx_.Run().ServerState == ServerPhase::Closing) return true;
            Supervise(slot);
        }
        return true;
    } catch (const std::exception& e) {
        if (fault) *fault = e.what();
        return false;
    }
}

void InboundServer::Supervise(int16_t slot) {
    SessionSlot& record = slots_[size_t(slot)];
    if (record.use == SlotUse::Closed) {
        ctx_.Log().ShowEvent(TimeText() + " : Socket " + SlotText(slot) + " Closed");
        ctx_.Log().OsprineLog(slot, "Connection Terminated");
        CloseSession(slot);
        return;
    }
    if (record.use != SlotUse::Open) return;
    // Silence and age are the peer's only while the server is not busy for
    // it: a message being filed is never cut off.
    const Session& session = *sessions_[size_t(slot)];
    if (session.dialogue->Waiting()) return;
    if (Now() - record.OpenedAt > sessionLimitMs_) {
        ctx_.Log().Report(slot, "<-- 421 Session time limit reached.");
        SendMessage(slot, Text("421 Session time limit reached.") + CRLF);
        ++ctx_.Stats().SessionTimeLimits;
        ctx_.Stats().UpdateStats();
        sckAccept_Close(slot);
        return;
    }
    const int64_t idleSeconds = (Now() - record.LastActivity) / 1000;
    if (idleSeconds > record.IdleTimeout) {
        ctx_.Log().Report(slot, "221 Timeout.");
        SendMessage(slot, Text("221 Timeout.") + CRLF);
        sckAccept_Close(slot);
    }
}
