#pragma once
// A DMARC policy record (RFC 7489 section 6.3): the "v=DMARC1" TXT record
// of "_dmarc." + domain.
#include <optional>
#include "server/store/Text.h"

enum class DmarcPolicy { None, Quarantine, Reject };

struct DmarcRecord {
    DmarcPolicy policy = DmarcPolicy::None;       // p=
    std::optional<DmarcPolicy> subdomainPolicy;   // sp=
    bool strictDkim = false;                      // adkim=s
    bool strictSpf = false;                       // aspf=s
    int percent = 100;                            // pct=
};

// The TXT record claims to be a DMARC record ("v=DMARC1" as its first tag).
bool IsDmarcRecord(const Text& txt);

// Nothing when the record is unusable (no v=DMARC1 first, a broken tag
// list, or neither a valid p= nor a rua= to fall back to p=none with).
// Other tags with bad values keep their defaults.
std::optional<DmarcRecord> ParseDmarcRecord(const Text& txt);

Text PolicyName(DmarcPolicy policy);
