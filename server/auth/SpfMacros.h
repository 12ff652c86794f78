#pragma once
// The macros of SPF domain specifications (RFC 7208 section 7).
#include <optional>
#include "server/store/Text.h"

struct SpfMacroValues {
    Text sender;     // s: local-part@domain (postmaster@helo for the null reverse path)
    Text domain;     // d: the domain being checked
    Text clientIp;   // i (dotted quad or IPv6 text)
    Text helo;       // h
};

// The expanded target domain, shortened from the left to 253 characters;
// nothing when a macro is malformed.
std::optional<Text> ExpandSpfMacros(const Text& macroText, const SpfMacroValues& values);

// The client address as the "i" macro writes it: dotted quad, or 32 dotted nibbles.
Text SpfIpText(const Text& clientIp);
