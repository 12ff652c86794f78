#pragma once
// One inbound session slot. Slot numbers run from 0 to MaxConnections; slot 0
// never carries a session, it only answers "421" when every other slot is busy.
#include <cstdint>
#include "server/store/Text.h"

enum class SlotUse : uint8_t {
    Free,     // LastActivity ""
    Open,     // LastActivity = the moment of the peer's last data
    Closed,   // LastActivity "0": closed by the shut-down; a session that ends frees its slot at once
};

// The values of DialogueState.
enum class SmtpState : int16_t {
    Connected = 0,        // no HELO or EHLO yet (and again after STARTTLS)
    Greeted = 1,          // HELO or EHLO answered; no mail transaction open
    HaveSender = 2,       // MAIL accepted
    HaveRecipients = 3,   // at least one RCPT accepted
    ReceivingData = 4,    // between DATA and the end mark
};

inline constexpr int16_t kDefaultIdleTimeout = 120;

struct SessionSlot {
    SlotUse use = SlotUse::Free;
    int64_t LastActivity = 0;   // monotonic milliseconds, meaningful while Open
    int64_t OpenedAt = 0;       // monotonic milliseconds: the session's start
    uint64_t Progress = 0;      // complete command lines and kilobytes of text received
    Text LineBuffer;            // received text not yet ended by a line break
    SmtpState DialogueState = SmtpState::Connected;
    int16_t ErrorCount = 0;
    Text Sender;
    Text Recipients;              // accepted addresses joined by ","
    int RecipientCount = 0;       // how many addresses Recipients holds
    Text Body;                    // the message being received
    bool BodyDiscarded = false;   // the message went over MaxMailSize: drop what follows
    int16_t IdleTimeout = kDefaultIdleTimeout;
    Text PeerAddress;   // dotted IPv4 address of the client
    Text HeloName;      // the argument of the last HELO or EHLO

    // Back to the state of a freshly opened session (Body is the dialogue's).
    void Open(int64_t now, const Text& peer) {
        use = SlotUse::Open;
        LastActivity = now;
        OpenedAt = now;
        Progress = 0;
        LineBuffer.clear();
        DialogueState = SmtpState::Connected;
        ErrorCount = 0;
        Sender.clear();
        Recipients.clear();
        RecipientCount = 0;
        IdleTimeout = kDefaultIdleTimeout;
        PeerAddress = peer;
        HeloName.clear();
    }
    void Clear() { *this = SessionSlot(); }
};
