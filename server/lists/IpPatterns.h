#pragma once
// The stored order of the IP restriction list: IPv4 patterns by address,
// part by part, with a "*" part before every number, then IPv6 networks by
// address and prefix; empty patterns and "0.0.0.0" dropped.
#include "server/store/Text.h"

TextList SortIpPatterns(const TextList& patterns);
// A box of the four-box address entry holds "*" or a number 0 to 255.
bool IsIpPart(const Text& part);
// An IPv6 row: one address or address/prefix ("2001:db8::/32"). `entry` is
// the row as stored (RFC 5952 form); false with the reason.
bool AcceptIpv6Row(const Text& row, Text& entry, Text& why);
