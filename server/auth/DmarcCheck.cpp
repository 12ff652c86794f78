#include "server/auth/DmarcCheck.h"

#include "server/auth/DkimCanon.h"

#include <libpsl.h>

namespace {

DmarcOutcome Without(DmarcResult result, const Text& fromDomain) { return DmarcWithout(result, fromDomain); }

bool Aligned(const Text& domain, const Text& fromDomain, bool strict) {
    const Text d = domain.toLower();
    if (strict) return d == fromDomain;
    return OrganisationalDomain(d) == OrganisationalDomain(fromDomain);
}

DmarcPolicy Downgraded(DmarcPolicy policy) {
    return policy == DmarcPolicy::Reject ? DmarcPolicy::Quarantine : DmarcPolicy::None;
}

DmarcOutcome Judge(const DmarcRequest& request, const DmarcRecord& record, bool fromOrganisation, int draw) {
    DmarcOutcome out;
    out.fromDomain = request.fromDomain;
    out.record = record;
    out.policy = fromOrganisation && record.subdomainPolicy ? *record.subdomainPolicy : record.policy;
    bool pass = request.spf == SpfResult::Pass && Aligned(request.spfDomain, request.fromDomain, record.strictSpf);
    for (const DkimOutcome& d : request.dkim)
        pass = pass || (d.result == DkimResult::Pass && Aligned(d.domain, request.fromDomain, record.strictDkim));
    out.result = pass ? DmarcResult::Pass : DmarcResult::Fail;
    out.disposition = pass ? DmarcPolicy::None : draw < record.percent ? out.policy : Downgraded(out.policy);
    return out;
}

// The one DMARC record among the TXT records; nothing when none or several.
std::optional<DmarcRecord> OnlyRecord(const DnsAnswer& a, int* count) {
    QList<Text> records;
    for (const Text& txt : a.records)
        if (IsDmarcRecord(txt)) records << txt;
    *count = int(records.size());
    if (records.size() != 1) return std::nullopt;
    return ParseDmarcRecord(records.first());
}

}   // namespace

DmarcOutcome DmarcWithout(DmarcResult result, const Text& fromDomain) {
    DmarcOutcome out;
    out.result = result;
    out.fromDomain = fromDomain;
    return out;
}

Text DmarcResultName(DmarcResult result) {
    switch (result) {
    case DmarcResult::None:
        return "none";
    case DmarcResult::Pass:
        return "pass";
    case DmarcResult::Fail:
        return "fail";
    case DmarcResult::TempError:
        return "temperror";
    case DmarcResult::PermError:
        return "permerror";
    }
    return "none";
}

Text OrganisationalDomain(const Text& domain) {
    // The newer of the built-in list and Debian's publicsuffix file, loaded once.
    static const psl_ctx_t* const psl = psl_latest(nullptr);
    Text lower = domain.toLower();
    if (lower.endsWith('.')) lower.chop(1);
    if (!psl || lower.isEmpty()) return lower;
    const char* registrable = psl_registrable_domain(psl, lower.constData());
    return registrable ? Text(registrable) : lower;
}

Text FromDomain(const Text& message) { return FromDomain(SplitForDkim(message).fields); }

Text FromDomain(const QList<HeaderField>& fields) {
    Text value;
    int froms = 0;
    for (const HeaderField& f : fields)
        if (f.name.toLower() == "from") {
            ++froms;
            value = f.raw.mid(f.raw.indexOf(':') + 1);
        }
    if (froms != 1) return {};
    value.replace("\r\n", "");
    // The address in angle brackets, else the whole value.
    const qsizetype open = value.lastIndexOf('<');
    if (open >= 0) {
        const qsizetype close = value.indexOf('>', open);
        value = value.mid(open + 1, close < 0 ? -1 : close - open - 1);
    } else if (value.contains(',')) {
        return {};   // a list of authors has no one domain to check
    }
    const qsizetype at = value.lastIndexOf('@');
    if (at < 0) return {};
    Text domain = value.mid(at + 1).trimmed().toLower();
    if (const qsizetype space = domain.indexOf(' '); space >= 0) domain.truncate(space);   // a comment after it
    while (domain.endsWith('.')) domain.chop(1);
    return domain;
}

void CheckDmarc(CachedDns& dns, const DmarcRequest& request, int draw, std::function<void(DmarcOutcome)> done) {
    if (request.fromDomain.isEmpty()) {
        QMetaObject::invokeMethod(
            &dns, [done] { done(Without(DmarcResult::PermError, {})); }, Qt::QueuedConnection);
        return;
    }
    CachedDns* const d = &dns;
    dns.Lookup("_dmarc." + request.fromDomain, DnsType::TXT, [d, request, draw, done](const DnsAnswer& a) {
        const DmarcOutcome none = Without(DmarcResult::None, request.fromDomain);
        if (a.status == DnsStatus::Failed) return done(Without(DmarcResult::TempError, request.fromDomain));
        int count = 0;
        if (const auto record = OnlyRecord(a, &count)) return done(Judge(request, *record, false, draw));
        if (count > 1) return done(none);
        // No record of its own: the organisational domain's, if it is another.
        const Text organisation = OrganisationalDomain(request.fromDomain);
        if (organisation == request.fromDomain) return done(none);
        d->Lookup("_dmarc." + organisation, DnsType::TXT, [request, draw, done, none](const DnsAnswer& a) {
            if (a.status == DnsStatus::Failed) return done(Without(DmarcResult::TempError, request.fromDomain));
            int count = 0;
            if (const auto record = OnlyRecord(a, &count)) return done(Judge(request, *record, true, draw));
            done(none);
        });
    });
}
