#include "server/net/IpAddress.h"

#include <algorithm>

namespace {

bool ParseIpv6(const Text& text, Q_IPV6ADDR& out) {
    // No zone: a rule or a name never names an interface.
    if (!IsIpv6Text(text) || text.contains('%')) return false;
    QHostAddress parsed;
    if (!parsed.setAddress(QString::fromLatin1(text)) || parsed.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    out = parsed.toIPv6Address();
    return true;
}

bool SamePrefix(const Q_IPV6ADDR& a, const Q_IPV6ADDR& b, int bits) {
    for (int i = 0; bits > 0; ++i, bits -= 8) {
        const uint8_t mask = bits >= 8 ? 0xff : uint8_t(0xff << (8 - bits));
        if ((a[i] & mask) != (b[i] & mask)) return false;
    }
    return true;
}

}   // namespace

Text AddressText(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) return QHostAddress(v4).toString().toLatin1();
    QHostAddress plain(address.toIPv6Address());   // without the zone
    return plain.toString().toLatin1();
}

Text TraceAddressText(const Text& address) {
    const Text trimmed = Trim(address);
    return IsIpv6Text(trimmed) ? "[IPv6:" + trimmed + "]" : trimmed;
}

Text NibbleReversed(const Text& address) {
    Q_IPV6ADDR bytes;
    if (!ParseIpv6(Trim(address), bytes)) return Text();
    static const char kHex[] = "0123456789abcdef";
    Text name;
    for (int i = 15; i >= 0; --i) {
        name += kHex[bytes[i] & 0x0f];
        name += '.';
        name += kHex[bytes[i] >> 4];
        if (i > 0) name += '.';
    }
    return name;
}

Text SessionAddressKey(const Text& address) {
    Q_IPV6ADDR bytes;
    if (!ParseIpv6(address, bytes)) return address;
    for (int i = 8; i < 16; ++i) bytes[i] = 0;
    return AddressText(QHostAddress(bytes)) + "/64";
}

bool ParseIpv6Network(const Text& row, Ipv6Network& network, Text* why) {
    const Text trimmed = Trim(row);
    const qsizetype slash = trimmed.indexOf('/');
    const Text address = Trim(slash < 0 ? trimmed : trimmed.left(slash));
    Text problem;
    network.prefix = 128;
    if (!ParseIpv6(address, network.address)) {
        problem = "\"" + address + "\" is no IPv6 address";
    } else if (slash >= 0) {
        const Text prefix = Trim(trimmed.mid(slash + 1));
        bool ok = !prefix.isEmpty() && prefix.size() <= 3 &&
                  std::all_of(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; });
        network.prefix = ok ? prefix.toInt() : -1;
        if (network.prefix < 0 || network.prefix > 128) problem = "the prefix length must be a number from 0 to 128";
    }
    if (why) *why = problem;
    return problem.isEmpty();
}

Text Ipv6NetworkText(const Text& row) {
    Ipv6Network network;
    if (!ParseIpv6Network(row, network)) return Trim(row);
    const Text address = AddressText(QHostAddress(network.address));
    return Trim(row).contains('/') ? address + "/" + NumText(network.prefix) : address;
}

bool InNetwork(const Text& address, const Ipv6Network& network) {
    Q_IPV6ADDR bytes;
    return ParseIpv6(Trim(address), bytes) && SamePrefix(bytes, network.address, network.prefix);
}
