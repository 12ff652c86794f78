#include "server/inbound/InboundServer.h"

#include "server/inbound/InboundSession.h"
#include "server/inbound/IpRules.h"
#include "server/net/IpAddress.h"
#include "server/net/Tls.h"
#include "server/store/ErrorLog.h"
#include "server/store/KeyedList.h"
#include "server/store/Version.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <exception>
#include <utility>

namespace {

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

InboundServer::InboundServer(ServerContext& ctx, MessageSaver& saver, QObject* parent)
    : QObject(parent), ctx_(ctx), saver_(saver), zones_(ctx), clock_(&MonotonicMs) {
    // The end-to-end tests shorten the session limit; nothing else sets this.
    if (const int seconds = qEnvironmentVariableIntValue("OSPRINE_TEST_SESSION_LIMIT_S"); seconds > 0)
        sessionLimitMs_ = int64_t(seconds) * 1000;
    if (const int seconds = qEnvironmentVariableIntValue("OSPRINE_TEST_TLS_HANDSHAKE_S"); seconds > 0)
        tlsHandshakeLimitMs_ = seconds * 1000;
    ResizeSlots();
    connect(&listener_, &QTcpServer::newConnection, this, &InboundServer::sckListen_ConnectionRequest);
}

InboundServer::~InboundServer() {
    listener_.close();
    // The sessions go first: they hold their slot records, which go with
    // this object's members. Refused sockets are children too and go after.
    for (InboundSession* session : sessions_) delete session;
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
        ctx_.Log().MessageBox("OSPRINE - Error",
                              "The SMTP listen port is being used by another application. " + ListenFailure());
        LogError("OpenListenPort", kVersion, "frmMain", ListenFailure());
    }
}

void InboundServer::ApplySettings() {
    const bool moved = !IsListening() || ListeningPort() != quint16(ctx_.Settings().Port);
    if (moved && !IsActive()) return OpenListenPort();
    ReloadTls();
    if (!IsActive()) ResizeSlots();
}

void InboundServer::CloseListener() { listener_.close(); }

void InboundServer::ReloadTls() {
    const TlsSettings keys = LoadTlsSettings(ctx_.KeyedList());
    Text error, warning;
    tlsActive_ = ServerTlsConfiguration(keys.serverCertFile, keys.serverKeyFile, serverTls_, error, &warning);
    if (!warning.isEmpty() && expiryWarnedOn_ != QDate::currentDate()) {
        expiryWarnedOn_ = QDate::currentDate();
        ctx_.Log().ReportServer("Inbound TLS warning: " + warning + ".");
        LogError("ReloadTls", kVersion, "frmMain", "Inbound TLS warning: " + warning);
    }
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

void InboundServer::ResizeSlots() {
    slots_.assign(size_t(std::max<int16_t>(ctx_.Settings().MaxConnections, 1)) + 1, SessionSlot());
    sessions_.assign(slots_.size(), nullptr);
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
        ctx_.Log().ShowTimedEvent("Connection Refused (Blocked IP)");
        ctx_.Log().OsprineLog(slot, "Connection Refused (Blocked IP) [" + address + "]");
        Refuse(socket, Text());
        ++ctx_.Stats().BlockedIps;
        ctx_.Stats().UpdateStats();
        return;
    }
    const int limit = MaxSessionsPerAddress();
    if (limit > 0 && SessionsFrom(address) >= limit) {
        ctx_.Log().ShowTimedEvent("Connection Refused (Too Many Connections From " + address + ")");
        Refuse(socket, Text("421 Too many connections from your address.") + CRLF);
        ++ctx_.Stats().RefusedPerAddress;
        ctx_.Stats().UpdateStats();
        return;
    }
    if (FreeSlots() <= qsizetype(admitted_.size())) {
        ctx_.Log().ShowTimedEvent("Connection Refused (No Available Socket)");
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
        if (Record(slot).use == SlotUse::Open && SessionAddressKey(Record(slot).PeerAddress) == key) ++n;
    for (const QPointer<QTcpSocket>& waiting : admitted_)
        if (waiting && SessionAddressKey(PeerAddressText(*waiting)) == key) ++n;
    return n;
}

qsizetype InboundServer::FreeSlots() const {
    qsizetype n = 0;
    for (int16_t slot = 1; slot <= HighestSlot(); ++slot)
        if (Record(slot).use == SlotUse::Free) ++n;
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
            ctx_.Log().ShowTimedEvent("Connection Refused (No Available Socket)");
            Refuse(socket, Text("421 No available sockets remaining.") + CRLF);
            return;
        }
        OpenSession(slot, socket, address);
    } catch (const std::exception& e) {   // Qt, std::bad_alloc for the new session: the connection is refused
        ctx_.Log().ShowTimedEvent("Connection Refused (Invalid Session) [" + SlotText(slot) + "]");
        ctx_.Log().OsprineLog(slot, "Connection Refused (Invalid Session) [" + address + "]");
        if (slot > 0 && SessionIn(slot))
            CloseSession(slot);
        else
            Refuse(socket, Text());
        LogError("sckListen_ConnectionRequest", kVersion, "frmMain", e.what());
    }
}

// Sends `reply` (if any) on a connection that gets no slot, then drops it.
void InboundServer::Refuse(QTcpSocket* socket, const Text& reply) {
    if (!reply.isEmpty()) socket->write(reply);
    Release(socket);
}

// A connection without a slot closes once what was written has gone out; a
// peer that will not take the last bytes is dropped.
void InboundServer::Release(QTcpSocket* socket) {
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kRefusalGraceMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) socket->deleteLater();
}

// ---- Sessions ------------------------------------------------------------

int16_t InboundServer::GetFreeSocket() const {
    for (int16_t slot = 1; slot <= HighestSlot(); ++slot)
        if (Record(slot).use == SlotUse::Free) return slot;
    return 0;
}

void InboundServer::OpenSession(int16_t slot, QTcpSocket* socket, const Text& address) {
    SessionSlot& record = Record(slot);
    record.Clear();
    record.Open(Now(), address);
    SessionIn(slot) = new InboundSession(*this, slot, record, socket);
    SessionIn(slot)->Start();
}

void InboundServer::SendMessage(int16_t slot, const Text& text) {
    if (InboundSession* session = SessionIn(slot)) session->SendMessage(text);
}

void InboundServer::sckAccept_Close(int16_t slot) {
    if (InboundSession* session = SessionIn(slot)) session->End();
}

// The closing lines come first, so the slot is never shown closed after its
// next session began; then the slot takes the next admission at once.
void InboundServer::SessionEnded(int16_t slot, QTcpSocket* socket) {
    ctx_.Log().ShowTimedEvent("Socket " + SlotText(slot) + " Closed");
    ctx_.Log().OsprineLog(slot, "Connection Terminated");
    InboundSession* session = std::exchange(SessionIn(slot), nullptr);
    Record(slot).Clear();
    ctx_.Stats().UpdateStats();
    Release(socket);
    session->deleteLater();
    AcceptPending();
}

void InboundServer::CloseSession(int16_t slot) {
    Record(slot).Clear();
    ctx_.Stats().UpdateStats();
    InboundSession* session = std::exchange(SessionIn(slot), nullptr);
    if (!session) return;
    session->Abort();
    session->deleteLater();
}

void InboundServer::CloseAllSessions() {
    for (int16_t slot = 1; slot <= HighestSlot(); ++slot) {
        InboundSession* session = SessionIn(slot);
        if (Record(slot).use == SlotUse::Free || !session) continue;
        Record(slot).use = SlotUse::Closed;
        session->Abort();
    }
}

bool InboundServer::IsActive() const { return ActiveSlots() > 0; }

int32_t InboundServer::ActiveSlots() const {
    int32_t n = 0;
    for (int16_t slot = 1; slot <= HighestSlot(); ++slot)
        if (Record(slot).use != SlotUse::Free) ++n;
    return n;
}

// ---- Supervision -------------------------------------------------------------

bool InboundServer::SupervisionTick(Text* fault) {
    try {
        for (int16_t slot = 1; slot <= HighestSlot(); ++slot) {
            if (ctx_.Run().ServerState == ServerPhase::Closing) return true;
            Supervise(slot);
        }
        return true;
    } catch (const std::exception& e) {   // Qt, std::bad_alloc in the tick: the server shuts down
        if (fault) *fault = e.what();
        return false;
    }
}

void InboundServer::Supervise(int16_t slot) {
    if (Record(slot).use == SlotUse::Open) SessionIn(slot)->Supervise();
}
