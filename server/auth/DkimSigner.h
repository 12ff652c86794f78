#pragma once
// DKIM signatures (RFC 6376) for the mail the server sends: relaxed/relaxed,
// the usual headers signed where present and From once more than it occurs,
// so that no From can be added in transit.
#include "server/auth/DkimSigningKey.h"

// The headers a signature covers, where the message has them.
inline constexpr const char* kDkimSignedHeaders[] = {
    "From",     "To",          "Cc",         "Subject",      "Date",         "Message-ID",
    "Reply-To", "In-Reply-To", "References", "MIME-Version", "Content-Type", "Content-Transfer-Encoding",
};

struct DkimIdentity {
    Text domain;     // d=
    Text selector;   // s=
};

// The DKIM-Signature header field, ending in CR LF, to put in front of
// `message` (lines ending in CR LF, exactly as it will be sent), signed at
// `unixTime`. Empty when the key fails to sign.
Text DkimSignatureField(const Text& message, const DkimSigningKey& key, const DkimIdentity& identity, qint64 unixTime);

// Whether `domain` is `signingDomain` or one of its subdomains (letter case
// ignored): mail from it aligns with a signature of `signingDomain`.
bool WithinDomain(const Text& domain, const Text& signingDomain);
