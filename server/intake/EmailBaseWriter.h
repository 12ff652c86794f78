#pragma once
// Delivery to a forwarding destination: the BBS's e-mail base (network 0),
// another BBS network's spool, or the outbound queue (network 9).
#include <QDateTime>
#include <vector>
#include "server/bbs/ServerContext.h"
#include "server/store/DiskQueue.h"

// A forward address user "@" system "*" network, taken apart.
struct ForwardAddress {
    Text user;     // lower-cased; a user number is replaced by that user's name
    Text system;   // "0" when there is no "*"
    int network = 0;
};
ForwardAddress ParseForwardAddress(const ServerContext& ctx, const Text& forward);

// Files `text` for the forward address. The user number argument is not
// used: the record's recipient comes from FindUser. Returns false only on a
// local fault (the queue is full, a write failed); a message the rules do
// not deliver (no sender, subject or date) counts as done. The file work
// goes to `sink`.
bool WriteMessage(const ServerContext& ctx, int32_t userNumber, const Text& forward, const Text& text, int16_t slot,
                  DiskSink sink = DiskSink::Now());

// The message's body as the e-mail base keeps it: every line after the first
// empty line, each followed by CR LF.
Text EmailBody(const Text& text);

// The Date header value taken apart at fixed positions and written as
// weekday, month, day ", " year, time and zone; missing parts come from `now`.
Text NormaliseDateText(const Text& date, const QDateTime& now);

// Local time as seconds since 1 January 1970, rounded.
int32_t LocalTimeWritten(const QDateTime& now);
