#include "server/inbound/IpRules.h"

#include "server/net/IpAddress.h"
#include "server/store/KeyedList.h"

namespace {

bool Ipv4RowMatches(const Text& row, const Text& address) {
    const TextList want = Explode(".", row, 4, 4);
    const TextList have = Explode(".", address, 4, 4);
    for (int i = 0; i < 4; ++i) {
        if (Trim(want[i]) == "*") continue;
        if (ValNumber(want[i]) != ValNumber(have[i])) return false;
    }
    return true;
}

}   // namespace

// A row of each family names only clients of that family.
bool IpRowMatches(const Text& row, const Text& address) {
    if (IsIpv6Text(row) != IsIpv6Text(address)) return false;
    if (!IsIpv6Text(row)) return Ipv4RowMatches(row, address);
    Ipv6Network network;
    return ParseIpv6Network(row, network) && InNetwork(address, network);
}

bool CheckUserIp(const ServerContext& ctx, const Text& address) {
    bool matched = false;
    for (const Text& row : Explode(";", GetData("ipconfig", ctx.KeyedList()))) {
        // An empty row (a stray ";") would stand for 0.0.0.0; it names nobody.
        if (Trim(row).isEmpty()) continue;
        if (IpRowMatches(row, address)) {
            matched = true;
            break;
        }
    }
    return On(ctx.Settings().IpAllowOnly) ? matched : !matched;
}
