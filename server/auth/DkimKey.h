#pragma once
// A DKIM key record, the TXT record of "selector._domainkey.domain"
// (RFC 6376 section 3.6.1).
#include <optional>
#include "server/store/Text.h"

struct DkimKey {
    Text keyType = "rsa";       // k=: "rsa" or "ed25519" (others are kept and fail later)
    TextList hashes;            // h=: acceptable hash names; empty means any
    QByteArray publicKey;       // p= decoded; empty when the key was revoked
    bool testing = false;       // t=y
    bool sameDomain = false;    // t=s: i= must be d= itself, no subdomain
    bool emailService = true;   // s= names "email" or "*" (the default)
};

// Nothing for a record that is no usable key record (syntax, version, p=).
std::optional<DkimKey> ParseDkimKey(const Text& record);
