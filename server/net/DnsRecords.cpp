#include "server/net/DnsRecords.h"

#include <ares.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <QHostAddress>
#include <algorithm>
#include <limits>

namespace {

quint16 Read16(const unsigned char* p) { return quint16((p[0] << 8) | p[1]); }
quint32 Read32(const unsigned char* p) { return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (p[2] << 8) | p[3]; }

// Steps over one encoded name; false when it runs past the answer.
bool SkipName(const unsigned char* abuf, int alen, const unsigned char*& at) {
    char* name = nullptr;
    long used = 0;
    if (ares_expand_name(at, abuf, alen, &name, &used) != ARES_SUCCESS) return false;
    ares_free_string(name);
    at += used;
    return at <= abuf + alen;
}

// The smallest TTL of the answer section's records of `type`; 0 when none.
quint32 SmallestTtl(const unsigned char* abuf, int alen, DnsType type) {
    if (alen < 12) return 0;
    const int questions = Read16(abuf + 4), answers = Read16(abuf + 6);
    const unsigned char* at = abuf + 12;
    const unsigned char* const end = abuf + alen;
    for (int i = 0; i < questions; ++i)
        if (!SkipName(abuf, alen, at) || (at += 4) > end) return 0;
    quint32 ttl = std::numeric_limits<quint32>::max();
    bool any = false;
    for (int i = 0; i < answers; ++i) {
        if (!SkipName(abuf, alen, at) || end - at < 10) break;
        const quint16 rrType = Read16(at);
        const quint32 rrTtl = Read32(at + 4);
        const quint16 length = Read16(at + 8);
        at += 10;
        if (end - at < length) break;
        at += length;
        if (rrType != quint16(type)) continue;
        ttl = std::min(ttl, rrTtl);
        any = true;
    }
    return any ? std::min<quint32>(ttl, 0x7fffffff) : 0;
}

Text Dotted(const in_addr& address) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    return clsIPResolve::DottedQuad(b);
}

Text Colons(const ares_in6_addr& address) {
    return QHostAddress(reinterpret_cast<const quint8*>(&address)).toString().toLatin1();
}

// The records of a successful answer; the c-ares status of reading it.
int ReadRecords(DnsType type, const unsigned char* abuf, int alen, QList<Text>& out) {
    switch (type) {
    case DnsType::A: {
        ares_addrttl addresses[64];
        int n = 64;
        if (const int status = ares_parse_a_reply(abuf, alen, nullptr, addresses, &n); status != ARES_SUCCESS)
            return status;
        for (int i = 0; i < n; ++i) out << Dotted(addresses[i].ipaddr);
        return ARES_SUCCESS;
    }
    case DnsType::AAAA: {
        ares_addr6ttl addresses[64];
        int n = 64;
        if (const int status = ares_parse_aaaa_reply(abuf, alen, nullptr, addresses, &n); status != ARES_SUCCESS)
            return status;
        for (int i = 0; i < n; ++i) out << Colons(addresses[i].ip6addr);
        return ARES_SUCCESS;
    }
    case DnsType::MX: {
        ares_mx_reply* mx = nullptr;
        if (const int status = ares_parse_mx_reply(abuf, alen, &mx); status != ARES_SUCCESS) return status;
        QList<std::pair<int, Text>> byPreference;
        for (ares_mx_reply* r = mx; r; r = r->next) byPreference.append({r->priority, Text(r->host)});
        ares_free_data(mx);
        std::stable_sort(byPreference.begin(), byPreference.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [preference, host] : byPreference) out << host;
        return ARES_SUCCESS;
    }
    case DnsType::PTR: {
        hostent* host = nullptr;
        if (const int status = ares_parse_ptr_reply(abuf, alen, nullptr, 0, AF_INET, &host); status != ARES_SUCCESS)
            return status;
        // The names once each (c-ares repeats the first among the aliases).
        const auto add = [&out](const char* name) {
            if (!out.contains(Text(name))) out << Text(name);
        };
        if (host->h_name) add(host->h_name);
        for (char** alias = host->h_aliases; alias && *alias; ++alias) add(*alias);
        ares_free_hostent(host);
        return ARES_SUCCESS;
    }
    case DnsType::TXT: {
        // A record of several strings is their concatenation (no gap between).
        ares_txt_ext* txt = nullptr;
        if (const int status = ares_parse_txt_reply_ext(abuf, alen, &txt); status != ARES_SUCCESS) return status;
        for (ares_txt_ext* r = txt; r; r = r->next) {
            const Text piece(reinterpret_cast<const char*>(r->txt), qsizetype(r->length));
            if (r->record_start || out.isEmpty())
                out << piece;
            else
                out.last() += piece;
        }
        ares_free_data(txt);
        return ARES_SUCCESS;
    }
    }
    return ARES_EBADRESP;
}

}   // namespace

DnsAnswer ReadDnsAnswer(int status, DnsType type, const unsigned char* abuf, int alen) {
    DnsAnswer answer;
    if (status == ARES_ENOTFOUND || status == ARES_ENODATA) {
        answer.status = DnsStatus::NoData;
        answer.noSuchName = status == ARES_ENOTFOUND;
        return answer;
    }
    if (status != ARES_SUCCESS || !abuf) return answer;   // Failed
    if (const int read = ReadRecords(type, abuf, alen, answer.records); read != ARES_SUCCESS) {
        // An answer without records of the type (a bare CNAME) is ENODATA.
        answer.records.clear();
        if (read == ARES_ENODATA) answer.status = DnsStatus::NoData;
        return answer;
    }
    answer.status = answer.records.isEmpty() ? DnsStatus::NoData : DnsStatus::Found;
    answer.ttl = SmallestTtl(abuf, alen, type);
    return answer;
}
