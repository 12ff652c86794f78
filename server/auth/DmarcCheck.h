#pragma once
// The DMARC check of the From domain (RFC 7489): the policy record of the
// domain or of its organisational domain (public suffix list, libpsl), and
// whether an SPF or DKIM pass is aligned with it.
#include <functional>
#include "server/auth/DkimVerify.h"
#include "server/auth/DmarcRecord.h"
#include "server/auth/SpfCheck.h"

enum class DmarcResult { None, Pass, Fail, TempError, PermError };
Text DmarcResultName(DmarcResult result);

struct DmarcOutcome {
    DmarcResult result = DmarcResult::None;
    Text fromDomain;                               // lower case; "" when From named none
    std::optional<DmarcRecord> record;             // the policy found
    DmarcPolicy policy = DmarcPolicy::None;        // p=, or sp= for a subdomain
    DmarcPolicy disposition = DmarcPolicy::None;   // what applies after pct=
};

// The organisational domain: the registrable domain of the public suffix
// list, or the domain itself when it is a public suffix or unknown.
Text OrganisationalDomain(const Text& domain);

// The domain of the message's single From address; "" when there is not
// exactly one From field or no domain in it.
Text FromDomain(const Text& message);
Text FromDomain(const QList<HeaderField>& fields);

struct DmarcRequest {
    Text fromDomain;
    SpfResult spf = SpfResult::None;
    Text spfDomain;   // the domain SPF checked
    QList<DkimOutcome> dkim;
};

// An outcome without a policy record.
DmarcOutcome DmarcWithout(DmarcResult result, const Text& fromDomain);

// `done` comes later than the call; `draw` (0 to 99) stands for the random
// number that pct= is compared with.
void CheckDmarc(CachedDns& dns, const DmarcRequest& request, int draw, std::function<void(DmarcOutcome)> done);
