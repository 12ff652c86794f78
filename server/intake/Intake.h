#pragma once
// The intake of received mail: from the end of DATA to the hand-off file the
// BBS's tosser imports, or to a forwarding destination.
#include <QObject>
#include <QSet>
#include "server/bbs/ServerContext.h"
#include "server/inbound/MessageSaver.h"
#include "server/intake/AnswerLimit.h"
#include "server/intake/MessageText.h"
#include "server/intake/RecipientCopy.h"

inline constexpr qsizetype kSpamScanLimit = 1048576;
// A hand-off number from which the tosser is started at once (the 1000
// names would last a burst of mail less than a second).
inline constexpr int kEarlyTossNumber = 50;

class Intake : public QObject, public MessageSaver {
    Q_OBJECT
public:
    explicit Intake(const ServerContext& ctx, QObject* parent = nullptr);

    // Logs the message, runs the spam scan when it applies (without blocking
    // the loop) and files it; `done` gets the outcome once everything is stored.
    void SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) override;

    // Everything after the spam scan; `message` is the scanned text.
    SaveResult FileMessage(const ReceivedMessage& envelope, const Text& message);

private:
    void LogArrival(const ReceivedMessage& message);
    SaveResult Deleted(int16_t slot, const Text& event);   // logs why
    // The event of a header or subject filter that deletes the message, or "".
    Text FilterVerdict(const Text& firstRecipient, const Text& head);
    // Files the copy of one recipient entry, unless its destination (user
    // number, else local part) is in `done` already; false on a local fault.
    bool Deliver(const ReceivedMessage& envelope, const Text& recipient, const MessageText& message, QSet<Text>& done,
                 bool* handedOn);
    bool HandOff(const ReceivedMessage& envelope, const RecipientCopy& copy, const MessageText& message);
    bool Forward(const ReceivedMessage& envelope, const RecipientCopy& copy, const Text& forward,
                 const MessageText& message);
    void Count(qsizetype length);

    ServerContext ctx_;
    AnswerLimit answers_;   // file-request answers per requester and hour
};
