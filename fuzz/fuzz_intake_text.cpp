// The text steps of the intake: the cut of the attachment tail, the header
// and body split, dot-stuffing in both directions and the header and subject
// filters with any list rows. Input: parts cut at "\0\xff": message, rows.
#include "fuzz/FuzzSupport.h"
#include "server/intake/Filters.h"
#include "server/intake/MessageText.h"
#include "server/outbound/OutboundText.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TextList p = FuzzParts(data, size, 2);
    const Text& message = p[0];

    MessageText split = SplitMessage(message);
    HeaderBlock(message);
    ApplyHeaderFilter(p[1], split.head);
    ApplySubjectFilter(p[1], split.head);
    TextList pieces{split.head, split.body, split.tail};
    StripTrailingCrLf(pieces);
    PiecesLength(pieces);

    // What the sending side stuffs, the receiving side restores.
    Text stuffed = AddTransparencyDots(message);
    UndoDotStuffing(stuffed);
    if (stuffed != ConvertCrLf(message)) std::abort();

    Text received = message;
    UndoDotStuffing(received);
    if (received.size() > message.size()) std::abort();

    const QueueText queued = SplitAttachment(message);
    if (queued.message + queued.attachment != message) std::abort();
    MessageTo7Bit(message);
    return 0;
}
