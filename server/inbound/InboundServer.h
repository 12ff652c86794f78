#pragma once
// The inbound SMTP service: the listener on setting Port (IPv6 and IPv4,
// every interface), the session slot table sized by MaxConnections, the
// accept lock, and the once-a-second supervision of the sessions. Each session is
// an InboundSession, which owns its socket and its SmtpDialogue.
#include "server/bbs/ServerContext.h"
#include "server/inbound/MessageSaver.h"
#include "server/inbound/RelayZones.h"
#include "server/inbound/SessionListener.h"
#include "server/inbound/SessionSlot.h"
#include "server/net/IPResolve.h"

#include <QDate>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <deque>
#include <functional>
#include <vector>

class InboundSession;
class QTcpSocket;

class InboundServer : public QObject {
    Q_OBJECT
public:
    InboundServer(ServerContext& ctx, MessageSaver& saver, QObject* parent = nullptr);
    ~InboundServer() override;

    // (Re)opens the listener on setting Port. With no session open the slot
    // table is also re-sized to setting MaxConnections, all slots free.
    // A port that cannot be taken is reported in a message box; the server
    // carries on without a listener.
    void OpenListenPort();
    // Settings changed: TLS is read again and, with no session open, the
    // slot table re-sized. The listener is reopened, with no session open,
    // only when it is not already on setting Port: clients waiting in its
    // backlog keep their place through a reload.
    void ApplySettings();
    void CloseListener();
    bool IsListening() const { return listener_.isListening(); }
    quint16 ListeningPort() const { return listener_.serverPort(); }
    // "0.0.0.0 and [::]" for the dual-stack socket, else its one address.
    QString ListenAddress() const {
        const QHostAddress address = listener_.serverAddress();
        return address.protocol() == QAbstractSocket::AnyIPProtocol ? "0.0.0.0 and [::]" : address.toString();
    }
    // Why the listener is not open: "port N: the system's reason".
    Text ListenFailure() const { return listener_.FailureReason(quint16(ctx_.Settings().Port)); }
    // Shut-down: every session socket is closed, nothing is sent.
    void CloseAllSessions();

    // At least one slot is in use (open, or closed by the shut-down).
    bool IsActive() const;
    // Slots in use, for ActiveConnections.
    int32_t ActiveSlots() const;

    // Sessions one client address may hold unless "maxperip" says otherwise.
    static constexpr int kDefaultMaxPerAddress = 3;

    // Called right after Timer1 released AcceptLock: takes one connection
    // that the lock held back.
    void AcceptPending();
    // Sessions admitted per tick of Timer1: setting "acceptrate" of the keyed
    // list, 1 unless it says otherwise (0: no limit).
    int AdmissionsPerTick() const;
    // Timer2's share: times out silent sessions and those over their limit.
    // False after a fault, with its description in *fault.
    bool SupervisionTick(Text* fault = nullptr);

    // Procedures of the slot table.
    int16_t GetFreeSocket() const;
    void SendMessage(int16_t slot, const Text& text);
    // Ends the slot's session; what was written still goes out.
    void sckAccept_Close(int16_t slot);
    // Clears the slot and drops its connection at once.
    void CloseSession(int16_t slot);

    int16_t HighestSlot() const { return int16_t(slots_.size()) - 1; }
    const SessionSlot& Slot(int16_t slot) const { return slots_.at(size_t(slot)); }

    // Monotonic milliseconds; tests may move time on.
    void SetClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }
    // Longest session, whatever it sends (milliseconds).
    static constexpr int64_t kSessionLimitMs = 30 * 60 * 1000;
    // A STARTTLS handshake not done by then ends its session.
    static constexpr int kTlsHandshakeLimitMs = 30 * 1000;
    void SetSessionLimit(int64_t ms) { sessionLimitMs_ = ms; }
    // Longest wait for one block-list zone's answer (milliseconds).
    void SetRelayQueryLimit(int ms) {
        relayQueryLimitMs_ = ms;
        zones_.SetQueryLimit(ms);
    }
    // The health of the block-list zones (checked by the engine).
    RelayZones& Zones() { return zones_; }

    // Loads the certificate and key the keyed list names for STARTTLS; a
    // change in what loads, or why not, is reported. Called when the
    // listener opens and whenever the settings are re-read.
    void ReloadTls();
    // STARTTLS is offered to new sessions.
    bool TlsActive() const { return tlsActive_; }
    // What was last said about it; empty when no certificate is configured.
    const Text& TlsReport() const { return tlsReport_; }

private:
    friend class InboundSession;   // reads the settings and services every session shares

    void sckListen_ConnectionRequest();
    // Refuses a pending connection at once, or queues it for admission.
    void Screen(QTcpSocket* socket);
    // Setting "maxperip" of the keyed list (0: no limit).
    int MaxSessionsPerAddress() const;
    // A count setting of the keyed list, from 0 to 10000; `fallback` when unset.
    int KeyedCount(const char* key, int fallback) const;
    // Open sessions and queued connections of the address (of its /64 for IPv6).
    int SessionsFrom(const Text& address) const;
    qsizetype FreeSlots() const;
    void Accept(QTcpSocket* socket);
    void Refuse(QTcpSocket* socket, const Text& reply);
    void Release(QTcpSocket* socket);
    void OpenSession(int16_t slot, QTcpSocket* socket, const Text& address);
    // The session's socket comes back, to close once its last bytes are out.
    void SessionEnded(int16_t slot, QTcpSocket* socket);
    void ResizeSlots();
    void Supervise(int16_t slot);
    int64_t Now() const { return clock_(); }
    // The slot table: a slot's record and its session (nullptr while free).
    SessionSlot& Record(int16_t slot) { return slots_[size_t(slot)]; }
    const SessionSlot& Record(int16_t slot) const { return slots_[size_t(slot)]; }
    InboundSession*& SessionIn(int16_t slot) { return sessions_[size_t(slot)]; }

    ServerContext& ctx_;
    MessageSaver& saver_;
    SessionListener listener_;
    std::deque<QPointer<QTcpSocket>> admitted_;   // connections waiting for their turn
    RelayZones zones_;
    QSslConfiguration serverTls_;
    bool tlsActive_ = false;
    Text tlsReport_;         // what was last said about inbound TLS
    QDate expiryWarnedOn_;   // a certificate that ends soon is said once a day
    int tlsHandshakeLimitMs_ = kTlsHandshakeLimitMs;
    std::vector<SessionSlot> slots_;
    std::vector<InboundSession*> sessions_;   // by slot; each a child of this server
    std::function<int64_t()> clock_;
    int relayQueryLimitMs_ = clsIPResolve::kDefaultTimeLimitMs;
    int64_t sessionLimitMs_ = kSessionLimitMs;
};
