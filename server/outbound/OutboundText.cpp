#include "server/outbound/OutboundText.h"
#include "server/outbound/SevenBit.h"
#include "server/store/Dates.h"
#include "server/store/Headers.h"

namespace {

// A header date is 25 characters ("ddd, dd mmm yyyy hh:nn:ss"); what follows,
// usually a zone, gives way to the local one. A date that already ends in the
// local zone is taken without it first, so that a date of another length does
// not gain one more zone at every preparation.
Text WithLocalZone(const Text& date, const Text& zone) {
    const Text suffix = " " + zone;
    const Text bare = date.endsWith(suffix) ? date.chopped(suffix.size()) : date;
    return Trim(bare.left(25)) + suffix;
}

}   // namespace

QueueText SplitAttachment(const Text& text) {
    const qsizetype start = AttachmentStart(text);
    if (start < 0) return {text, {}};
    return {text.left(start), text.mid(start)};
}

Text FixOutboundHeaders(const Text& text, const QDateTime& now) {
    const Text date = GetHeaderField("Date", text);
    const Text newDate = Trim(date).isEmpty() ? HeaderDate(now) : WithLocalZone(date, GetTimeZoneOffset(now));
    Text out = ChangeHeaderField("Date", newDate, text, true);

    if (!date.isEmpty()) {
        const Text received = GetHeaderField("Received", out);
        const qsizetype at = received.indexOf(date);
        if (at >= 0) out = ChangeHeaderField("Received", Trim(received.left(at)) + " " + newDate, out, false);
    }
    return out;
}

Text MessageTo7Bit(const Text& text) {
    const TextList lines = Explode(CRLF, text);
    Text out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0) out += CRLF;
        out += ConvertTo7Bit(lines[i]);
    }
    return out;
}

Text EnvelopeAddress(const Text& headerValue) {
    Text address = Trim(GetPath(headerValue));
    const qsizetype blank = address.indexOf(' ');
    if (blank >= 0) address.truncate(blank);
    return address;
}

Text AddTransparencyDots(const Text& text) {
    const Text lines = ConvertCrLf(text);
    Text out;
    out.reserve(lines.size() + lines.size() / 64 + 1);
    bool lineStart = true;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const char c = lines[i];
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

bool IsReturnedMessage(const Text& message) {
    return UCase(Trim(GetHeaderField(kStatusHeader, message))) == kReturnedStatus;
}

Text RemoveTrackingHeaders(const Text& message) {
    Text out = message;
    for (const char* name : {kProcessedHeader, kAttemptsHeader, kStatusHeader, kLastStatusHeader, kQueuedHeader})
        out = ChangeHeaderField(name, "", out, false);
    return out;
}
