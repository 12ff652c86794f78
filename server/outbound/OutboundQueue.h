#pragma once
// The outbound queue: the "*.D" files of the queue directory in name order,
// the message in hand, and LoadOutboundMessage, which finds the next due
// message, prepares it and rewrites its queue file.
#include <QDateTime>
#include <QStringList>
#include <functional>
#include "server/bbs/ServerContext.h"

// The message in hand; all empty when nothing is loaded.
struct LoadedMessage {
    Text text;        // prepared text with its tracking headers, no transparency dots
    Text sender;      // envelope sender
    Text recipient;   // envelope recipient
    bool IsEmpty() const { return text.isEmpty(); }
};

class OutboundQueue {
public:
    using Clock = std::function<QDateTime()>;

    explicit OutboundQueue(const ServerContext& ctx);

    // Whether the queue directory holds at least one "*.D" file.
    bool HasQueuedFiles() const;

    // Reads the list afresh; it stays as it is for the rest of a connection.
    void Refresh();
    int Count() const { return int(names_.size()); }
    int Position() const { return position_; }
    bool AtLastPosition() const { return position_ >= Count() - 1; }
    Text CurrentFileName() const;

    // LoadOutboundMessage: from `position` on, the first due message is made
    // current, prepared and loaded; an expired message met on the way is
    // returned to its sender and ends the search (one that cannot be
    // returned yet is passed over).
    void LoadOutboundMessage(int position);
    const LoadedMessage& Loaded() const { return loaded_; }
    void Clear();

    // Deletes the current queue file after the upstream server accepted it.
    bool DeleteCurrent();
    // Writes why the loaded message is still queued into its file
    // (X-OSPRINE-Last-Status), for the queue listing.
    void RecordLastStatus(const Text& status);

    // The time source of the retry rules (tests move it).
    void SetClock(Clock clock) { clock_ = std::move(clock); }

private:
    enum class Outcome { Loaded, Skipped, Stop };
    Outcome TryLoad(const QString& name);
    bool Prepare(const QString& name, const Text& message, const Text& attachment, bool firstTime, int32_t attempts);
    QString CurrentPath() const;

    const ServerContext& ctx_;
    QStringList names_;
    int position_ = -1;
    LoadedMessage loaded_;
    Clock clock_;
};
