#include "server/auth/DmarcRecord.h"

#include "server/auth/TagList.h"

namespace {

std::optional<DmarcPolicy> Policy(const Text& value) {
    const Text v = value.toLower();
    if (v == "none") return DmarcPolicy::None;
    if (v == "quarantine") return DmarcPolicy::Quarantine;
    if (v == "reject") return DmarcPolicy::Reject;
    return std::nullopt;
}

}   // namespace

bool IsDmarcRecord(const Text& txt) {
    const std::optional<TagList> tags = TagList::Parse(txt);
    return tags && !tags->Tags().isEmpty() && tags->Tags().first().name == "v" &&
           tags->Tags().first().value == "DMARC1";
}

std::optional<DmarcRecord> ParseDmarcRecord(const Text& txt) {
    const std::optional<TagList> tags = TagList::Parse(txt);
    if (!tags || tags->Tags().isEmpty() || tags->Tags().first().name != "v" || tags->Tags().first().value != "DMARC1")
        return std::nullopt;
    DmarcRecord record;
    // A missing or unknown p= counts as "none" when reports are asked for
    // (RFC 7489 section 6.6.3); otherwise the record is no record.
    const std::optional<DmarcPolicy> policy = Policy(tags->Value("p"));
    if (!policy && tags->Value("rua").isEmpty()) return std::nullopt;
    record.policy = policy.value_or(DmarcPolicy::None);
    record.subdomainPolicy = Policy(tags->Value("sp"));
    record.strictDkim = tags->Value("adkim").toLower() == "s";
    record.strictSpf = tags->Value("aspf").toLower() == "s";
    bool ok = false;
    const int percent = tags->Value("pct").toInt(&ok);
    if (ok && percent >= 0 && percent <= 100) record.percent = percent;
    return record;
}

Text PolicyName(DmarcPolicy policy) {
    switch (policy) {
    case DmarcPolicy::None:
        return "none";
    case DmarcPolicy::Quarantine:
        return "quarantine";
    case DmarcPolicy::Reject:
        return "reject";
    }
    return "none";
}
