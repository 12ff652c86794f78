// The header procedures on any message: reading, changing and adding a
// field, the address inside a path, and the header repair of received and
// of outgoing mail. Input: a selector byte, then parts cut at "\0\xff".
#include "fuzz/FuzzSupport.h"
#include "server/intake/InboundHeaders.h"
#include "server/outbound/OutboundText.h"
#include "server/store/Headers.h"

#include <QTimeZone>
#include <cstdlib>

namespace {
// A fixed moment keeps every run of an input the same.
QDateTime Now() { return QDateTime(QDate(2006, 7, 11), QTime(12, 34, 56), QTimeZone(7200)); }
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const TextList p = FuzzParts(data + 1, size - 1, 3);
    switch (data[0] % 6) {
    case 0:
        GetHeaderField(p[0], p[1]);
        break;
    case 1:
        ChangeHeaderField(p[0], p[1], p[2], true);
        ChangeHeaderField(p[0], p[1], p[2], false);
        break;
    case 2:
        GetPath(p[0]);
        break;
    case 3:
        FixInboundHeaders(p[0], Now());
        break;
    case 4: {
        const Text once = FixOutboundHeaders(p[0], Now());
        // The queue keeps the repaired text and the next attempt repairs it
        // again: that must change nothing. (A lone CR or LF becomes CR LF on
        // the first pass, which may bring an attachment mark into being, so
        // the rule holds from the first repaired text on.)
        const Text twice = FixOutboundHeaders(once, Now());
        if (FixOutboundHeaders(twice, Now()) != twice) std::abort();
        if (ConvertCrLf(p[0]) == p[0] && twice != once) std::abort();
        break;
    }
    default:
        IsReturnedMessage(p[0]);
        RemoveTrackingHeaders(p[0]);
        EnvelopeAddress(p[0]);
        break;
    }
    return 0;
}
