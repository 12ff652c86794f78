#pragma once
// An SPF record (RFC 7208 section 4.6): the "v=spf1" TXT record of a domain,
// read into its directives and modifiers. Macros stay unexpanded here.
#include <QList>
#include <optional>
#include "server/store/Text.h"

enum class SpfQualifier : char { Pass = '+', Fail = '-', SoftFail = '~', Neutral = '?' };

enum class SpfMechanism { All, Include, A, Mx, Ptr, Ip4, Ip6, Exists };

struct SpfDirective {
    SpfQualifier qualifier = SpfQualifier::Pass;
    SpfMechanism mechanism = SpfMechanism::All;
    Text domainSpec;   // the macro string after ":" ("" when none)
    Text network;      // ip4 and ip6: the address as written
    int cidr4 = -1;    // prefix length for IPv4 (-1: none given)
    int cidr6 = -1;    // prefix length for IPv6 (-1: none given)
};

struct SpfRecord {
    QList<SpfDirective> directives;
    std::optional<Text> redirect;      // redirect= target domain
    std::optional<Text> explanation;   // exp= target domain
};

// The TXT record claims to be an SPF record: "v=spf1" alone or followed by a space.
bool IsSpfRecord(const Text& txt);

// Nothing when the record breaks the syntax (a permerror); why in `error`.
std::optional<SpfRecord> ParseSpfRecord(const Text& txt, Text* error = nullptr);

// A macro string (RFC 7208 section 7.1) is well formed; `explanation`
// allows the letters only an explanation may use (c, r, t).
bool IsMacroString(const Text& text, bool explanation = false);
// A target domain: a macro string that ends in a top label or a macro.
bool IsDomainSpec(const Text& text);
