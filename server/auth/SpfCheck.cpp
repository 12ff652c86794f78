#include "server/auth/SpfCheck.h"

#include "server/auth/SpfMacros.h"
#include "server/auth/SpfRecord.h"

#include <QHostAddress>
#include <memory>

namespace {

// How one mechanism came out.
enum class Match { Yes, No, TempError, PermError };

// What the whole check shares: the client, the limits' counters.
struct Evaluation {
    CachedDns& dns;
    SpfRequest request;
    QHostAddress client;
    bool v6 = false;
    int lookups = 0;   // terms that cost a DNS query, across includes and redirects
    int voids = 0;     // of those, answers with no record at all
};
using Shared = std::shared_ptr<Evaluation>;

// One check_host() of a domain: its record and where the walk through it is.
struct Level {
    Shared ev;
    Text domain;
    SpfRecord record;
    std::function<void(SpfResult)> done;
};
using LevelPtr = std::shared_ptr<Level>;

void CheckHost(const Shared& ev, const Text& domain, std::function<void(SpfResult)> done);
void Step(const LevelPtr& level, qsizetype index);

// A domain name check_host can look at (RFC 7208 section 4.3): several
// labels of 1 to 63 characters; an address literal ("[192.0.2.1]") is none.
bool IsUsableDomain(const Text& domain) {
    if (domain.isEmpty() || domain.size() > 253 || !domain.contains('.')) return false;
    for (const Text& label : domain.split('.')) {
        if (label.isEmpty() || label.size() > 63) return false;
        for (char c : label)
            if (c == '[' || c == ']' || c == ':' || c <= ' ' || c == 0x7f) return false;
    }
    return true;
}

bool CountLookup(Evaluation& ev) { return ++ev.lookups <= kSpfMaxLookups; }

// A look-up's answer said nothing; false once there were too many.
bool CountVoid(Evaluation& ev, const DnsAnswer& a) {
    if (a.status != DnsStatus::NoData) return true;
    return ++ev.voids <= kSpfMaxVoidLookups;
}

bool InNetwork(const Evaluation& ev, const Text& address, int cidr4, int cidr6) {
    const QHostAddress net(QString::fromLatin1(address));
    if (net.isNull()) return false;
    const bool netV6 = net.protocol() == QAbstractSocket::IPv6Protocol;
    if (netV6 != ev.v6) return false;
    const int prefix = ev.v6 ? (cidr6 < 0 ? 128 : cidr6) : (cidr4 < 0 ? 32 : cidr4);
    return ev.client.isInSubnet(net, prefix);
}

SpfMacroValues Macros(const Level& level) {
    const SpfRequest& r = level.ev->request;
    const Text sender = r.sender.isEmpty() ? "postmaster@" + r.helo : r.sender;
    return SpfMacroValues{sender, level.domain, r.clientIp, r.helo};
}

// The target of a mechanism: its expanded target domain, else the current domain.
std::optional<Text> Target(const Level& level, const SpfDirective& d) {
    if (d.domainSpec.isEmpty()) return level.domain;
    return ExpandSpfMacros(d.domainSpec, Macros(level));
}

DnsType AddressType(const Evaluation& ev) { return ev.v6 ? DnsType::AAAA : DnsType::A; }

// Do any of the names' addresses hold the client? One name after the other.
void AnyAddressMatches(const Shared& ev, QList<Text> names, int cidr4, int cidr6, std::function<void(Match)> done) {
    if (names.isEmpty()) {
        done(Match::No);
        return;
    }
    const Text name = names.takeFirst();
    ev->dns.Lookup(name, AddressType(*ev), [ev, names, cidr4, cidr6, done](const DnsAnswer& a) {
        if (a.status == DnsStatus::Failed) {
            done(Match::TempError);
            return;
        }
        for (const Text& address : a.records)
            if (InNetwork(*ev, address, cidr4, cidr6)) {
                done(Match::Yes);
                return;
            }
        AnyAddressMatches(ev, names, cidr4, cidr6, done);
    });
}

void MatchA(const LevelPtr& level, const Text& target, const SpfDirective& d, std::function<void(Match)> done) {
    const Shared ev = level->ev;
    ev->dns.Lookup(target, AddressType(*ev), [ev, d, done](const DnsAnswer& a) {
        if (a.status == DnsStatus::Failed) return done(Match::TempError);
        if (!CountVoid(*ev, a)) return done(Match::PermError);
        for (const Text& address : a.records)
            if (InNetwork(*ev, address, d.cidr4, d.cidr6)) return done(Match::Yes);
        done(Match::No);
    });
}

void MatchMx(const LevelPtr& level, const Text& target, const SpfDirective& d, std::function<void(Match)> done) {
    const Shared ev = level->ev;
    ev->dns.Lookup(target, DnsType::MX, [ev, d, done](const DnsAnswer& a) {
        if (a.status == DnsStatus::Failed) return done(Match::TempError);
        if (!CountVoid(*ev, a)) return done(Match::PermError);
        if (a.records.size() > kSpfMaxNames) return done(Match::PermError);
        AnyAddressMatches(ev, a.records, d.cidr4, d.cidr6, done);
    });
}

// The client's PTR names whose addresses lead back to it, one after the other.
void ValidatedNames(const Shared& ev, QList<Text> names, TextList found, std::function<void(TextList)> done) {
    if (names.isEmpty()) {
        done(found);
        return;
    }
    const Text name = names.takeFirst();
    ev->dns.Lookup(name, AddressType(*ev), [ev, names, found, name, done](const DnsAnswer& a) mutable {
        for (const Text& address : a.records)
            if (QHostAddress(QString::fromLatin1(address)) == ev->client) {
                found << name;
                break;
            }
        ValidatedNames(ev, names, found, done);
    });
}

Text PtrQueryName(const Evaluation& ev) {
    if (ev.v6) {
        TextList nibbles = SpfIpText(ev.request.clientIp).split('.');
        std::reverse(nibbles.begin(), nibbles.end());
        return nibbles.join('.') + ".ip6.arpa";
    }
    TextList octets = ev.client.toString().toLatin1().split('.');
    std::reverse(octets.begin(), octets.end());
    return octets.join('.') + ".in-addr.arpa";
}

void MatchPtr(const LevelPtr& level, const Text& target, std::function<void(Match)> done) {
    const Shared ev = level->ev;
    ev->dns.Lookup(PtrQueryName(*ev), DnsType::PTR, [ev, target, done](const DnsAnswer& a) {
        // A failed PTR query is no match (RFC 7208 section 5.5).
        if (a.status == DnsStatus::Failed) return done(Match::No);
        if (!CountVoid(*ev, a)) return done(Match::PermError);
        ValidatedNames(ev, a.records.mid(0, kSpfMaxNames), {}, [target, done](const TextList& names) {
            const Text t = target.toLower();
            for (Text name : names) {
                name = name.toLower();
                if (name.endsWith('.')) name.chop(1);
                if (name == t || name.endsWith("." + t)) return done(Match::Yes);
            }
            done(Match::No);
        });
    });
}

void MatchExists(const LevelPtr& level, const Text& target, std::function<void(Match)> done) {
    const Shared ev = level->ev;
    // Always an A query, whatever the client's address family.
    ev->dns.Lookup(target, DnsType::A, [ev, done](const DnsAnswer& a) {
        if (a.status == DnsStatus::Failed) return done(Match::TempError);
        if (!CountVoid(*ev, a)) return done(Match::PermError);
        done(a.records.isEmpty() ? Match::No : Match::Yes);
    });
}

void MatchInclude(const LevelPtr& level, const Text& target, std::function<void(Match)> done) {
    CheckHost(level->ev, target, [done](SpfResult r) {
        switch (r) {
        case SpfResult::Pass:
            return done(Match::Yes);
        case SpfResult::Fail:
        case SpfResult::SoftFail:
        case SpfResult::Neutral:
            return done(Match::No);
        case SpfResult::TempError:
            return done(Match::TempError);
        case SpfResult::PermError:
        case SpfResult::None:
            return done(Match::PermError);
        }
    });
}

// The mechanisms that need no look-up.
bool IsLocal(const SpfDirective& d) {
    return d.mechanism == SpfMechanism::All || d.mechanism == SpfMechanism::Ip4 || d.mechanism == SpfMechanism::Ip6;
}

bool LocalMatch(const Evaluation& ev, const SpfDirective& d) {
    return d.mechanism == SpfMechanism::All || InNetwork(ev, d.network, d.cidr4, d.cidr6);
}

// A mechanism that looks something up; `done` comes later.
void Mechanism(const LevelPtr& level, const SpfDirective& d, std::function<void(Match)> done) {
    Evaluation& ev = *level->ev;
    if (!CountLookup(ev)) return done(Match::PermError);
    const std::optional<Text> target = Target(*level, d);
    if (!target) return done(Match::PermError);
    switch (d.mechanism) {
    case SpfMechanism::Include:
        return MatchInclude(level, *target, done);
    case SpfMechanism::A:
        return MatchA(level, *target, d, done);
    case SpfMechanism::Mx:
        return MatchMx(level, *target, d, done);
    case SpfMechanism::Ptr:
        return MatchPtr(level, *target, done);
    case SpfMechanism::Exists:
        return MatchExists(level, *target, done);
    default:
        return done(Match::No);
    }
}

SpfResult ResultOf(SpfQualifier q) {
    switch (q) {
    case SpfQualifier::Pass:
        return SpfResult::Pass;
    case SpfQualifier::Fail:
        return SpfResult::Fail;
    case SpfQualifier::SoftFail:
        return SpfResult::SoftFail;
    case SpfQualifier::Neutral:
        return SpfResult::Neutral;
    }
    return SpfResult::Neutral;
}

// After the last directive: the redirect, else neutral.
void Finish(const LevelPtr& level) {
    if (!level->record.redirect) return level->done(SpfResult::Neutral);
    if (!CountLookup(*level->ev)) return level->done(SpfResult::PermError);
    const std::optional<Text> target = ExpandSpfMacros(*level->record.redirect, Macros(*level));
    if (!target) return level->done(SpfResult::PermError);
    CheckHost(level->ev, *target, [done = level->done](SpfResult r) {
        done(r == SpfResult::None ? SpfResult::PermError : r);   // a redirect to no record is an error
    });
}

void Step(const LevelPtr& level, qsizetype index) {
    // The mechanisms without look-ups are walked here, so a record of
    // thousands of them does not nest thousands of calls.
    for (; index < level->record.directives.size(); ++index) {
        const SpfDirective& d = level->record.directives[index];
        if (!IsLocal(d)) break;
        if (LocalMatch(*level->ev, d)) return level->done(ResultOf(d.qualifier));
    }
    if (index >= level->record.directives.size()) return Finish(level);
    const SpfDirective d = level->record.directives[index];
    Mechanism(level, d, [level, index, d](Match m) {
        switch (m) {
        case Match::Yes:
            return level->done(ResultOf(d.qualifier));
        case Match::No:
            return Step(level, index + 1);
        case Match::TempError:
            return level->done(SpfResult::TempError);
        case Match::PermError:
            return level->done(SpfResult::PermError);
        }
    });
}

void CheckHost(const Shared& ev, const Text& domain, std::function<void(SpfResult)> done) {
    Text name = domain;
    if (name.endsWith('.')) name.chop(1);
    if (!IsUsableDomain(name)) {
        QMetaObject::invokeMethod(
            &ev->dns, [done] { done(SpfResult::None); }, Qt::QueuedConnection);
        return;
    }
    ev->dns.Lookup(name, DnsType::TXT, [ev, name, done](const DnsAnswer& a) {
        if (a.status == DnsStatus::Failed) return done(SpfResult::TempError);
        TextList records;
        for (const Text& txt : a.records)
            if (IsSpfRecord(txt)) records << txt;
        if (records.isEmpty()) return done(SpfResult::None);
        if (records.size() > 1) return done(SpfResult::PermError);
        std::optional<SpfRecord> record = ParseSpfRecord(records.first());
        if (!record) return done(SpfResult::PermError);
        Step(std::make_shared<Level>(Level{ev, name, std::move(*record), done}), 0);
    });
}

}   // namespace

Text SpfResultName(SpfResult result) {
    switch (result) {
    case SpfResult::None:
        return "none";
    case SpfResult::Neutral:
        return "neutral";
    case SpfResult::Pass:
        return "pass";
    case SpfResult::Fail:
        return "fail";
    case SpfResult::SoftFail:
        return "softfail";
    case SpfResult::TempError:
        return "temperror";
    case SpfResult::PermError:
        return "permerror";
    }
    return "none";
}

Text SpfDomain(const SpfRequest& request) {
    const qsizetype at = request.sender.lastIndexOf('@');
    if (!request.sender.isEmpty() && at >= 0) return request.sender.mid(at + 1).toLower();
    return request.helo.toLower();
}

void CheckSpf(CachedDns& dns, const SpfRequest& request, std::function<void(SpfResult)> done) {
    auto ev = std::make_shared<Evaluation>(Evaluation{dns, request, {}, false, 0, 0});
    ev->client = QHostAddress(QString::fromLatin1(request.clientIp));
    // An IPv4 client seen through an IPv6 socket is checked as IPv4.
    bool mapped = false;
    const quint32 v4 = ev->client.toIPv4Address(&mapped);
    if (mapped) ev->client = QHostAddress(v4);
    ev->v6 = ev->client.protocol() == QAbstractSocket::IPv6Protocol;
    if (ev->client.isNull()) {
        QMetaObject::invokeMethod(
            &dns, [done] { done(SpfResult::None); }, Qt::QueuedConnection);
        return;
    }
    if (!ev->v6) ev->request.clientIp = ev->client.toString().toLatin1();
    CheckHost(ev, SpfDomain(request), std::move(done));
}
