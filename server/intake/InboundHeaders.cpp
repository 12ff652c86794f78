#include "server/intake/InboundHeaders.h"

#include "server/address/Recipients.h"
#include "server/net/IpAddress.h"
#include "server/store/Dates.h"
#include "server/store/Headers.h"
#include "server/store/Version.h"

#include <QHash>
#include <QSet>

namespace {

// ChangeHeaderField drops the final line end; the header block keeps one.
Text SetField(const Text& head, const Text& name, const Text& value) {
    const Text changed = ChangeHeaderField(name, value, head, true);
    return changed.isEmpty() ? changed : changed + CRLF;
}

bool IsTraceOrContinuation(const Text& line) {
    const Text up = UCase(line.left(12));
    return up.startsWith("RETURN-PATH:") || up.startsWith("RECEIVED:") || line.startsWith(' ') || line.startsWith('\t');
}

// Inserts a whole header line where ChangeHeaderField adds a missing field:
// before the first line that is no trace line and no continuation.
Text InsertHeaderLine(const Text& head, const Text& line) {
    qsizetype at = 0;
    while (at < head.size()) {
        const qsizetype end = head.indexOf("\r\n", at);
        const qsizetype next = end < 0 ? head.size() : end + 2;
        if (!IsTraceOrContinuation(head.mid(at, next - at))) break;
        at = next;
    }
    return head.left(at) + line + CRLF + head.mid(at);
}

bool HasFieldLine(const Text& head, const Text& upperName) {
    for (const Text& line : head.split('\n'))
        if (UCase(line).startsWith(upperName + ":")) return true;
    return false;
}

}   // namespace

Text FixInboundHeaders(const Text& head, const QDateTime& now) {
    Text h = head;
    // An empty value cannot be set through ChangeHeaderField (it deletes):
    // a missing Subject line is added empty, a blank one stays as it is.
    if (GetHeaderField("Subject", h).isEmpty() && !HasFieldLine(h, "SUBJECT")) h = InsertHeaderLine(h, "Subject: ");
    if (GetHeaderField("Date", h).isEmpty()) h = SetField(h, "Date", HeaderDate(now));
    if (GetHeaderField("From", h).isEmpty()) h = SetField(h, "From", GetHeaderField("Sender", h));
    if (GetHeaderField("Reply-To", h).isEmpty()) {
        const Text from = GetHeaderField("From", h);
        if (!from.isEmpty()) h = SetField(h, "reply-to", from);
    }
    return h;
}

Text RemoveForgedTrackingHeaders(const Text& head) {
    return RemoveHeaderFields(head,
                              {kProcessedHeader, kAttemptsHeader, kStatusHeader, kLastStatusHeader, kQueuedHeader});
}

Text ReceivedHeader(const ServerContext& ctx, const Text& head, const Text& sendingHost, const QDateTime& now) {
    return "Received: from " + TraceAddressText(sendingHost) + CRLF + "\tby " + GetSystemId(ctx.Bbs()) + " (OSPRINE v" +
           kVersion + ")" + CRLF + "\tfor <" + Trim(GetPath(GetHeaderField("To", head))) + ">; " + HeaderDate(now) +
           CRLF;
}

Text AddReceivedHeader(const ServerContext& ctx, const Text& head, const Text& sendingHost) {
    return ReceivedHeader(ctx, head, sendingHost) + head;
}

Text GetRecipients(const ServerContext& ctx, const Text& head, const Text& recipients) {
    const Text envelope = Trim(recipients);
    if (Trim(head).isEmpty()) return envelope;
    const Text headerCandidates =
        GetHeaderField("To", head) + "," + GetHeaderField("Cc", head) + "," + GetHeaderField("Bcc", head);
    // Each address is judged once and each domain once, and the header's
    // addresses are looked up only up to kMaxCarbonCopyLookups, so a header
    // listing thousands of them cannot hold the server up. The envelope's
    // recipients (accepted one by one at RCPT) are always judged.
    TextList taken;
    QSet<Text> judged;
    QHash<Text, bool> localDomain;
    int lookups = 0;
    const auto judge = [&](const Text& candidate, bool limited) {
        const Text address = Trim(GetPath(LCase(Trim(candidate))));
        if (address.isEmpty() || !address.contains('@') || !address.contains('.') || judged.contains(address)) return;
        if (limited && ++lookups > kMaxCarbonCopyLookups) return;
        judged.insert(address);
        const Text domain = GetAddressDomain(address);
        auto known = localDomain.find(domain);
        if (known == localDomain.end()) known = localDomain.insert(domain, CheckDomain(ctx, address));
        if (*known && CheckTo(ctx, address)) taken.append(address);
    };
    for (const Text& candidate : Explode(",", headerCandidates)) judge(candidate, true);
    for (const Text& candidate : Explode(",", envelope)) judge(candidate, false);
    return taken.join(',');
}
