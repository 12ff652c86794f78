#pragma once
// The address rules of the "ipconfig" list: with IpAllowOnly set only the
// listed addresses may connect, otherwise the listed ones are refused.
#include "server/bbs/ServerContext.h"

// A row of four parts, each "*" or a number, matches a dotted IPv4 address;
// an IPv6 row (address/prefix, or one address) matches the IPv6 addresses
// in it. A row never matches an address of the other family.
bool IpRowMatches(const Text& row, const Text& address);
// The peer may connect.
bool CheckUserIp(const ServerContext& ctx, const Text& address);
