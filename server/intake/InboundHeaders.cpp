#include "server/intake/InboundHeaders.h"

#include "server/inbound/Recipients.h"
#include "server/net/IpAddress.h"
#include "server/store/Dates.h"
#include "server/store/Headers.h"
#include "server/store/Version.h"

#include <QHash>
#include <QSet>

void FixInboundHeaders(HeaderView& h, const QDateTime& now) {
    // An empty value cannot be set (it deletes): a missing Subject line is
    // added empty, a blank one stays as it is.
    if (h.Value("Subject").isEmpty() && !h.Has("Subject")) h.Insert("Subject: " + Text(CRLF));
    if (h.Value("Date").isEmpty()) h.Set("Date", HeaderDate(now));
    if (h.Value("From").isEmpty()) h.Set("From", h.Value("Sender"));
    if (h.Value("Reply-To").isEmpty()) {
        const Text from = h.Value("From");
        if (!from.isEmpty()) h.Set("reply-to", from);
    }
}

Text FixInboundHeaders(const Text& head, const QDateTime& now) {
    HeaderView header(head);
    FixInboundHeaders(header, now);
    return header.ToText();
}

void RemoveForgedTrackingHeaders(HeaderView& header) {
    header.Remove({kProcessedHeader, kAttemptsHeader, kStatusHeader, kLastStatusHeader, kQueuedHeader});
}

Text ReceivedHeader(const ServerContext& ctx, const Text& to, const Text& sendingHost, const QDateTime& now) {
    return "Received: from " + TraceAddressText(sendingHost) + CRLF + "\tby " + GetSystemId(ctx.Bbs()) + " (OSPRINE v" +
           kVersion + ")" + CRLF + "\tfor <" + Trim(GetPath(to)) + ">; " + HeaderDate(now) + CRLF;
}

Text GetRecipients(const ServerContext& ctx, const HeaderView& header, const Text& recipients) {
    const Text envelope = Trim(recipients);
    if (header.Blank()) return envelope;
    const Text headerCandidates = header.Value("To") + "," + header.Value("Cc") + "," + header.Value("Bcc");
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
