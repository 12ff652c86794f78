// The text steps of the intake: the cut of the attachment tail, the header
// and body split, dot-stuffing in both directions and the header and subject
// filters with any list rows. Input: parts cut at "\0\xff": message, rows.
#include "fuzz/FuzzSupport.h"
#include "server/intake/Filters.h"
#include "server/intake/MessageText.h"
#include "server/outbound/OutboundText.h"
#include "server/store/HeaderView.h"
#include "server/store/Headers.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TextList p = FuzzParts(data, size, 2);
    const Text& message = p[0];

    MessageText split = SplitMessage(message);
    HeaderBlock(message);
    // The intake's view of the header answers as the text helpers do.
    const HeaderView header(split.head);
    if (header.ToText() != split.head) std::abort();
    for (const Text& name : {Text("Subject"), Text("To"), Text("Received"), Trim(p[1].left(40))}) {
        if (header.Value(name) != GetHeaderField(name, split.head)) std::abort();
        if (header.Count(name) != CountHeaderFields(split.head, name)) std::abort();
    }
    ApplyHeaderFilter(p[1], header);
    ApplySubjectFilter(p[1], header);
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
