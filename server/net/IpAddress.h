#pragma once
// Client addresses as the server writes and compares them: an IPv4 client
// (an IPv4-mapped peer of the dual-stack listener too) as the dotted quad,
// an IPv6 client in RFC 5952 form ("2001:db8::1"), without a zone.
#include <QHostAddress>
#include "server/store/Text.h"

// The peer's address as the event window, logs and rules show it.
Text AddressText(const QHostAddress& address);
// An address text of IPv6 (IPv4 texts hold no ":").
inline bool IsIpv6Text(const Text& address) { return address.contains(':'); }
// The trace header's form: IPv4 as it is, IPv6 as "[IPv6:...]" (RFC 5321, 4.1.3).
Text TraceAddressText(const Text& address);
// The block-list name of an IPv6 address (RFC 5782, 2.4): its 32 nibbles,
// lowest first, joined by "."; "" for text that is no IPv6 address.
Text NibbleReversed(const Text& address);
// What the per-address session limit counts as one address: an IPv4
// address, or the /64 an IPv6 address lies in (one site's share).
Text SessionAddressKey(const Text& address);

// An IPv6 rule: an address and a prefix length (128 for a single address).
struct Ipv6Network {
    Q_IPV6ADDR address{};
    int prefix = 128;
};
// "2001:db8::/32" or "::1"; false with the reason for anything else.
bool ParseIpv6Network(const Text& row, Ipv6Network& network, Text* why = nullptr);
// The row as it is stored: the address in RFC 5952 form, the prefix as typed.
Text Ipv6NetworkText(const Text& row);
// The address text is an IPv6 address inside the network.
bool InNetwork(const Text& address, const Ipv6Network& network);
