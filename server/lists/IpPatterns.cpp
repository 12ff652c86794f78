#include "server/lists/IpPatterns.h"

#include "server/net/IpAddress.h"

#include <algorithm>
#include <tuple>

namespace {

// Each part padded on the left with "0" to three characters, so that a
// plain text sort orders by number and puts "00*" before "000".
Text Padded(const Text& pattern) {
    TextList parts = Explode(".", pattern);
    for (Text& p : parts) p = StrPad(p, 3, "0", PadMode::Left);
    return parts.join('.');
}

Text Restored(const Text& padded) {
    TextList parts = Explode(".", padded);
    for (Text& p : parts) {
        const Text t = Trim(p);
        p = t.contains('*') ? Text("*") : NumText(ValLong(t));
    }
    return parts.join('.');
}

// IPv6 rows by their address bytes, then the prefix; a row that does not
// read (hand-written) goes last, as it stands.
TextList SortedIpv6(TextList rows) {
    const auto key = [](const Text& row) {
        Ipv6Network network;
        const bool ok = ParseIpv6Network(row, network);
        return std::make_tuple(!ok, QByteArray(reinterpret_cast<const char*>(network.address.c), 16), network.prefix,
                               row);
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const Text& a, const Text& b) { return key(a) < key(b); });
    return rows;
}

}   // namespace

TextList SortIpPatterns(const TextList& patterns) {
    TextList padded, ipv6;
    for (const Text& p : patterns) {
        if (Trim(p).isEmpty()) continue;
        if (IsIpv6Text(p))
            ipv6.append(Trim(p));
        else
            padded.append(Padded(Trim(p)));
    }
    SortArray(padded);
    TextList sorted;
    for (const Text& p : padded) {
        const Text restored = Restored(p);
        if (restored != "0.0.0.0") sorted.append(restored);
    }
    return sorted + SortedIpv6(ipv6);
}

bool AcceptIpv6Row(const Text& row, Text& entry, Text& why) {
    Ipv6Network network;
    if (!ParseIpv6Network(row, network, &why)) return false;
    entry = Ipv6NetworkText(row);
    return true;
}

bool IsIpPart(const Text& part) {
    if (part == "*") return true;
    if (part.isEmpty() || part.size() > 3) return false;
    for (char c : part)
        if (c < '0' || c > '9') return false;
    return part.toInt() <= 255;
}
