#include "server/auth/SpfRecord.h"

#include <QHostAddress>

namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsAlpha(c) || IsDigit(c); }

bool Fail(Text* error, const Text& why) {
    if (error) *error = why;
    return false;
}

// A prefix length without leading zeros, at most `limit`.
bool ReadCidr(const Text& digits, int limit, int* out) {
    if (digits.isEmpty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) return false;
    int n = 0;
    for (char c : digits) {
        if (!IsDigit(c)) return false;
        n = n * 10 + (c - '0');
    }
    if (n > limit) return false;
    *out = n;
    return true;
}

// "/n" and "//n" at the end of an a or mx mechanism's argument, taken off it.
bool ReadDualCidr(Text& arg, SpfDirective& d) {
    const qsizetype dbl = arg.indexOf("//");
    if (dbl >= 0) {
        if (!ReadCidr(arg.mid(dbl + 2), 128, &d.cidr6)) return false;
        arg.truncate(dbl);
    }
    // A "/" in a macro's delimiters ("%{d/}") is no prefix length.
    const qsizetype slash = arg.lastIndexOf('/');
    if (slash >= 0 && arg.indexOf('}', slash) < 0) {
        if (!ReadCidr(arg.mid(slash + 1), 32, &d.cidr4)) return false;
        arg.truncate(slash);
    }
    return true;
}

bool IsDottedQuad(const Text& text) {
    const TextList parts = text.split('.');
    if (parts.size() != 4) return false;
    for (const Text& part : parts) {
        if (part.isEmpty() || part.size() > 3) return false;
        int n = 0;
        for (char c : part) {
            if (!IsDigit(c)) return false;
            n = n * 10 + (c - '0');
        }
        if (n > 255) return false;
    }
    return true;
}

bool IsIp6(const Text& text) {
    if (!text.contains(':')) return false;
    QHostAddress address;
    return address.setAddress(QString::fromLatin1(text)) && address.protocol() == QAbstractSocket::IPv6Protocol;
}

bool ReadNetwork(const Text& arg, bool v6, SpfDirective& d) {
    Text address = arg;
    if (const qsizetype slash = arg.indexOf('/'); slash >= 0) {
        if (!ReadCidr(arg.mid(slash + 1), v6 ? 128 : 32, v6 ? &d.cidr6 : &d.cidr4)) return false;
        address.truncate(slash);
    }
    d.network = address;
    return v6 ? IsIp6(address) : IsDottedQuad(address);
}

struct MechanismName {
    const char* name;
    SpfMechanism mechanism;
};
constexpr MechanismName kMechanisms[] = {
    {"all", SpfMechanism::All}, {"include", SpfMechanism::Include}, {"a", SpfMechanism::A},
    {"mx", SpfMechanism::Mx},   {"ptr", SpfMechanism::Ptr},         {"ip4", SpfMechanism::Ip4},
    {"ip6", SpfMechanism::Ip6}, {"exists", SpfMechanism::Exists},
};

bool ReadDirective(const Text& term, SpfDirective& d, Text* error) {
    Text rest = term;
    if (!rest.isEmpty() && Text("+-~?").contains(rest[0])) {
        d.qualifier = SpfQualifier(rest[0]);
        rest.remove(0, 1);
    }
    qsizetype nameEnd = 0;
    while (nameEnd < rest.size() && rest[nameEnd] != ':' && rest[nameEnd] != '/') ++nameEnd;
    const Text name = rest.left(nameEnd).toLower();
    Text arg = rest.mid(nameEnd);
    const MechanismName* found = nullptr;
    for (const MechanismName& m : kMechanisms)
        if (name == m.name) found = &m;
    if (!found) return Fail(error, "unknown mechanism " + name);
    d.mechanism = found->mechanism;
    const bool colon = arg.startsWith(':');
    if (colon) arg.remove(0, 1);
    switch (d.mechanism) {
    case SpfMechanism::All:
        if (!arg.isEmpty() || colon) return Fail(error, "all takes no argument");
        return true;
    case SpfMechanism::Include:
    case SpfMechanism::Exists:
        if (!colon || !IsDomainSpec(arg)) return Fail(error, name + " needs a domain");
        d.domainSpec = arg;
        return true;
    case SpfMechanism::Ptr:
        if (colon && !IsDomainSpec(arg)) return Fail(error, "bad ptr domain");
        if (!colon && !arg.isEmpty()) return Fail(error, "bad ptr");
        d.domainSpec = arg;
        return true;
    case SpfMechanism::A:
    case SpfMechanism::Mx:
        if (!colon && !arg.isEmpty() && !arg.startsWith('/')) return Fail(error, "bad " + name);
        if (!ReadDualCidr(arg, d)) return Fail(error, "bad prefix length");
        if (colon && !IsDomainSpec(arg)) return Fail(error, "bad " + name + " domain");
        d.domainSpec = arg;
        return true;
    case SpfMechanism::Ip4:
    case SpfMechanism::Ip6:
        if (!colon || !ReadNetwork(arg, d.mechanism == SpfMechanism::Ip6, d)) return Fail(error, "bad " + name);
        return true;
    }
    return false;
}

bool IsModifierName(const Text& name) {
    if (name.isEmpty() || !IsAlpha(name[0])) return false;
    for (char c : name)
        if (!IsAlnum(c) && c != '-' && c != '_' && c != '.') return false;
    return true;
}

// A top label: alphanumerics with at least one letter, or with a hyphen
// inside (RFC 7208 section 4.6.1).
bool IsTopLabel(const Text& label) {
    if (label.isEmpty()) return false;
    bool alpha = false, hyphen = false;
    for (char c : label) {
        if (IsAlpha(c))
            alpha = true;
        else if (c == '-')
            hyphen = true;
        else if (!IsDigit(c))
            return false;
    }
    if (hyphen) return IsAlnum(label.front()) && IsAlnum(label.back());
    return alpha;
}

}   // namespace

bool IsSpfRecord(const Text& txt) {
    return txt.size() >= 6 && txt.left(6).toLower() == "v=spf1" && (txt.size() == 6 || txt[6] == ' ');
}

bool IsMacroString(const Text& text, bool explanation) {
    const Text letters = explanation ? "slodiphcrtv" : "slodiphv";
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '%') {
            if (c < 0x21 || c > 0x7e) {
                if (!(explanation && c == ' ')) return false;
            }
            continue;
        }
        if (++i >= text.size()) return false;
        const char next = text[i];
        if (next == '%' || next == '_' || next == '-') continue;
        if (next != '{') return false;
        const qsizetype close = text.indexOf('}', i);
        if (close < 0) return false;
        const Text inside = text.mid(i + 1, close - i - 1);
        if (inside.isEmpty() || !letters.contains(char(QChar::toLower(inside[0])))) return false;
        qsizetype k = 1;
        while (k < inside.size() && IsDigit(inside[k])) ++k;
        if (k > 1 && inside.mid(1, k - 1).toInt() == 0) return false;   // "0" digits are no transformer
        if (k < inside.size() && (inside[k] == 'r' || inside[k] == 'R')) ++k;
        for (; k < inside.size(); ++k)
            if (!Text(".-+,/_=").contains(inside[k])) return false;
        i = close;
    }
    return true;
}

bool IsDomainSpec(const Text& text) {
    if (text.isEmpty() || !IsMacroString(text)) return false;
    if (text.endsWith('}')) {
        // Ends with a macro: its "%{" must not be an escaped "%%{".
        const qsizetype open = text.lastIndexOf("%{");
        if (open >= 0) {
            qsizetype percents = 0;
            for (qsizetype k = open; k >= 0 && text[k] == '%'; --k) ++percents;
            if (percents % 2 == 1) return true;
        }
    }
    if (text.endsWith("%%") || text.endsWith("%_") || text.endsWith("%-")) {
        // Same reasoning for the two-character macros.
        qsizetype percents = 0;
        for (qsizetype k = text.size() - 2; k >= 0 && text[k] == '%'; --k) ++percents;
        if (percents % 2 == 1 && text.back() != '%') return true;
    }
    Text name = text;
    if (name.endsWith('.')) name.chop(1);
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < 0) return false;
    return IsTopLabel(name.mid(dot + 1));
}

std::optional<SpfRecord> ParseSpfRecord(const Text& txt, Text* error) {
    if (!IsSpfRecord(txt)) {
        if (error) *error = "no v=spf1";
        return std::nullopt;
    }
    SpfRecord record;
    for (const Text& term : txt.mid(6).split(' ')) {
        if (term.isEmpty()) continue;   // terms are separated by one or more spaces
        const qsizetype equals = term.indexOf('=');
        const qsizetype colon = term.indexOf(':'), slash = term.indexOf('/');
        const bool modifier = equals > 0 && (colon < 0 || equals < colon) && (slash < 0 || equals < slash);
        if (modifier) {
            const Text name = term.left(equals).toLower();
            const Text value = term.mid(equals + 1);
            if (!IsModifierName(name)) return Fail(error, "bad modifier name"), std::nullopt;
            if (name == "redirect" || name == "exp") {
                std::optional<Text>& slot = name == "redirect" ? record.redirect : record.explanation;
                if (slot || !IsDomainSpec(value)) return Fail(error, "bad or repeated " + name), std::nullopt;
                slot = value;
            } else if (!IsMacroString(value)) {
                return Fail(error, "bad macro in " + name), std::nullopt;
            }
            continue;
        }
        SpfDirective directive;
        if (!ReadDirective(term, directive, error)) return std::nullopt;
        record.directives.append(directive);
    }
    return record;
}
