#pragma once
// DKIM verification (RFC 6376, RFC 8301, RFC 8463) of every DKIM-Signature
// of a message as received: rsa-sha256 with keys of 1024 bits or more and
// ed25519-sha256. rsa-sha1, short keys and expired signatures fail. The
// keys come through CachedDns; the signatures are checked with OpenSSL.
#include <QList>
#include <functional>
#include <optional>
#include "server/auth/CachedDns.h"
#include "server/store/HeaderView.h"

enum class DkimResult { None, Pass, Fail, Neutral, TempError, PermError };
Text DkimResultName(DkimResult result);

struct DkimOutcome {
    DkimResult result = DkimResult::None;
    Text domain;                    // d=
    Text selector;                  // s=
    Text identity;                  // i= (or "@" + d=)
    Text bPrefix;                   // the first characters of b=, to tell signatures apart
    std::optional<qint64> length;   // l=, when the signature covers only part of the body
    Text reason;                    // why it did not pass
};

// At most this many signatures of one message are checked; the others are ignored.
inline constexpr int kMaxDkimSignatures = 5;

// `message`: the text the client sent, dot-stuffing undone, lines ended by
// CR LF. `done` gets one outcome per signature (none: no signature), later
// than the call; `now` is seconds since the epoch (for x=).
// `fields` are the message's header fields (SplitForDkim).
void VerifyDkim(CachedDns& dns, const Text& message, const QList<HeaderField>& fields, qint64 now,
                std::function<void(QList<DkimOutcome>)> done);

// The check of one signature once its key record is known (no look-up).
DkimOutcome CheckDkimSignature(const Text& message, qsizetype fieldIndex, const Text& keyRecord, qint64 now);
