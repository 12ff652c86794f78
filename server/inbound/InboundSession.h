#pragma once
// One inbound session: its socket, its SmtpDialogue and the slot record
// they share. The session is the dialogue's host: it puts the replies on
// the socket, runs the block-list test, hands messages to the intake and
// starts TLS. Everything it waits for is tied to its lifetime, so an answer
// that comes late never reaches a session that has ended, nor the next
// session of its slot.
#include "server/inbound/SmtpDialogue.h"

#include <QObject>
#include <QPointer>

class InboundServer;
class QTcpSocket;
class RelayTest;

class InboundSession : public QObject, private DialogueHost {
    Q_OBJECT
public:
    // Takes the socket; `record` is the slot's, freshly opened.
    InboundSession(InboundServer& server, int16_t slot, SessionSlot& record, QTcpSocket* socket);
    ~InboundSession() override;

    int16_t Slot() const { return slot_; }
    // The greeting; from then on the peer is heard.
    void Start();
    // Puts bytes on the socket while it is connected.
    void SendMessage(const Text& text) override;
    // Once a second: the time limit and the idle time-out.
    void Supervise();
    // sckAccept_Close: the session ends and its slot is free; what was
    // written still goes out.
    void End();
    // Shut-down: the connection is dropped at once, nothing more is sent,
    // and the slot stays as it is.
    void Abort();
    bool Ended() const { return ended_; }

private:
    // What the dialogue asks of its host.
    void EndSession() override { End(); }
    void CheckRelayTest(std::function<void(bool passed)> done) override;
    void SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) override;
    bool TlsOffered() const override;
    void StartTls() override;

    // Hands what the socket holds to the dialogue, unless the dialogue is
    // busy with its own work or the peer has not taken its replies.
    void Feed();
    // The block-list test or the intake has answered: `answer` runs and the
    // peer is heard again.
    void Resume(const std::function<void()>& answer);
    // The dialogue's work: a fault ends the session, no reply.
    template <typename Work>
    void DataEvent(Work work);
    // Hands the socket and the slot back to the server.
    void Leave();
    int64_t Now() const;

    InboundServer& server_;
    ServerContext& ctx_;
    const int16_t slot_;
    SessionSlot& record_;
    QTcpSocket* socket_;
    SmtpDialogue dialogue_;
    QPointer<RelayTest> relayTest_;
    int working_ = 0;      // the dialogue's work in hand, nested
    bool ended_ = false;   // nothing more is heard or done
    bool left_ = false;    // the socket and the slot went back to the server
};
