#include "server/auth/SpfMacros.h"

#include <QHostAddress>
#include <QUrl>

namespace {

Text LocalPart(const Text& sender) {
    const qsizetype at = sender.lastIndexOf('@');
    return at < 0 ? Text("postmaster") : sender.left(at);
}

Text SenderDomain(const Text& sender) {
    const qsizetype at = sender.lastIndexOf('@');
    return at < 0 ? sender : sender.mid(at + 1);
}

bool IsV6(const Text& ip) { return ip.contains(':'); }

// One macro's value, before its transformers.
std::optional<Text> LetterValue(char letter, const SpfMacroValues& v) {
    switch (letter) {
    case 's':
        return v.sender;
    case 'l':
        return LocalPart(v.sender);
    case 'o':
        return SenderDomain(v.sender);
    case 'd':
        return v.domain;
    case 'i':
        return SpfIpText(v.clientIp);
    case 'p':
        return Text("unknown");   // the validated name is not looked up (RFC 7208 section 5.5 discourages it)
    case 'v':
        return Text(IsV6(v.clientIp) ? "ip6" : "in-addr");
    case 'h':
        return v.helo;
    default:
        return std::nullopt;
    }
}

// Splits at any of the delimiters, keeps the rightmost `keep` parts
// (all when 0), reversed first when asked, joined by ".".
Text Transform(const Text& value, const Text& delimiters, int keep, bool reverse) {
    TextList parts;
    Text part;
    for (char c : value) {
        if (delimiters.contains(c)) {
            parts << part;
            part.clear();
        } else {
            part += c;
        }
    }
    parts << part;
    if (reverse) std::reverse(parts.begin(), parts.end());
    if (keep > 0 && keep < parts.size()) parts = parts.mid(parts.size() - keep);
    return parts.join('.');
}

}   // namespace

Text SpfIpText(const Text& clientIp) {
    if (!IsV6(clientIp)) return clientIp;
    const Q_IPV6ADDR a = QHostAddress(QString::fromLatin1(clientIp)).toIPv6Address();
    Text out;
    for (int i = 0; i < 16; ++i) {
        const char* hex = "0123456789abcdef";
        if (i) out += '.';
        out += hex[a[i] >> 4];
        out += '.';
        out += hex[a[i] & 15];
    }
    return out;
}

std::optional<Text> ExpandSpfMacros(const Text& macroText, const SpfMacroValues& values) {
    Text out;
    for (qsizetype i = 0; i < macroText.size(); ++i) {
        const char c = macroText[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= macroText.size()) return std::nullopt;
        const char next = macroText[i];
        if (next == '%')
            out += '%';
        else if (next == '_')
            out += ' ';
        else if (next == '-')
            out += "%20";
        else if (next != '{')
            return std::nullopt;
        if (next != '{') continue;
        const qsizetype close = macroText.indexOf('}', i);
        if (close < 0 || close == i + 1) return std::nullopt;
        const Text inside = macroText.mid(i + 1, close - i - 1);
        i = close;
        const char letter = inside[0];
        const bool escape = letter >= 'A' && letter <= 'Z';
        const std::optional<Text> value = LetterValue(char(letter | 0x20), values);
        if (!value) return std::nullopt;
        qsizetype k = 1;
        int keep = 0;
        while (k < inside.size() && inside[k] >= '0' && inside[k] <= '9')
            keep = std::min(keep * 10 + (inside[k++] - '0'), 1000);
        const bool reverse = k < inside.size() && (inside[k] == 'r' || inside[k] == 'R');
        if (reverse) ++k;
        const Text delimiters = k < inside.size() ? inside.mid(k) : Text(".");
        Text expanded = Transform(*value, delimiters, keep, reverse);
        if (escape) expanded = QUrl::toPercentEncoding(QString::fromLatin1(expanded), "", "");
        out += expanded;
    }
    // A name over 253 characters loses labels from the left until it fits.
    while (out.size() > 253) {
        const qsizetype dot = out.indexOf('.');
        if (dot < 0) return std::nullopt;
        out = out.mid(dot + 1);
    }
    return out;
}
