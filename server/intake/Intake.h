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
#include "server/intake/SenderChecks.h"
#include "server/store/DiskQueue.h"

inline constexpr qsizetype kSpamScanLimit = 1048576;
// A hand-off number from which the tosser is started at once (the 1000
// names would last a burst of mail less than a second).
inline constexpr int kEarlyTossNumber = 50;

class Intake : public QObject, public MessageSaver {
    Q_OBJECT
public:
    // With `diskThread` false the stores are synced before SaveMessage
    // returns (a fuzzer's input must end within one call).
    explicit Intake(ServerContext& ctx, QObject* parent = nullptr, bool diskThread = true);

    // Logs the message, runs the spam scan when it applies and files it, all
    // without blocking the loop; `done` gets the outcome once everything is
    // on stable storage.
    void SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) override;

private:
    // One copy's store: the file work its writer left for the disk thread,
    // and what is done on the event loop once all of it is on stable storage.
    struct Store {
        std::vector<DiskJob> jobs;
        std::function<void()> onStored;
    };
    // The stores of one message.
    struct Stores {
        std::vector<Store> list;
        // The received text: the copies borrow its bytes until they are written.
        std::shared_ptr<const Text> source;
        // Keeps the store; one without file work (the rules dropped its copy)
        // is done at once.
        void Add(Store store);
    };

    // After the sender checks: the spam scan when it applies, then the filing.
    void ScanThenFile(const ReceivedMessage& message, std::function<void(SaveResult)> done);
    // Everything after the spam scan; `message` is the scanned text.
    void FileMessage(const ReceivedMessage& envelope, std::shared_ptr<const Text> message,
                     std::function<void(SaveResult)> done);
    // Waits for the stores, then answers.
    void Finish(Stores stores, bool handedOn, bool fault, std::function<void(SaveResult)> done);
    void LogArrival(const ReceivedMessage& message, const HeaderView& header);
    SaveResult Deleted(int16_t slot, const Text& event);   // logs why
    // The event of a header or subject filter that deletes the message, or "".
    Text FilterVerdict(const Text& firstRecipient, const HeaderView& header);
    // Adds the store of one recipient entry's copy to `stores`, unless its
    // destination (user number, else local part) is in `destinations`
    // already; false on a local fault. `header` is the message's repaired
    // header, whose text `message.head` holds.
    bool Deliver(const ReceivedMessage& envelope, const Text& recipient, const MessageText& message,
                 const HeaderView& header, QSet<Text>& destinations, bool* handedOn, Stores& stores);
    void HandOff(const ReceivedMessage& envelope, const RecipientCopy& copy, const MessageText& message,
                 Stores& stores);
    bool Forward(const ReceivedMessage& envelope, const RecipientCopy& copy, const Text& forward,
                 const MessageText& message, Stores& stores);
    void Count(qsizetype length);

    ServerContext ctx_;
    AnswerLimit answers_;                // file-request answers per requester and hour
    std::unique_ptr<SenderAuth> auth_;   // made when "authcheck" is first on
    DiskQueue disk_;                     // last: its thread ends before the rest goes
};
