#include "server/auth/DkimCanon.h"

namespace {

bool IsWsp(char c) { return c == ' ' || c == '\t'; }

// Every run of white space as one space, none at either end; line ends
// (folding) taken out first.
Text Squeezed(QByteArrayView text) {
    Text out;
    out.reserve(text.size());
    bool space = false;
    for (char c : text) {
        if (c == '\r' || c == '\n') continue;
        if (IsWsp(c)) {
            space = true;
            continue;
        }
        if (space && !out.isEmpty()) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

}   // namespace

SplitMail SplitForDkim(QByteArrayView message) {
    const HeaderView header(message);
    return SplitMail{header.Fields(), message.sliced(header.End())};
}

Text CanonicalHeader(const HeaderField& field, bool relaxed) {
    if (!relaxed) return field.raw;
    const qsizetype colon = field.raw.indexOf(':');
    const QByteArrayView value = colon < 0 ? QByteArrayView() : QByteArrayView(field.raw).sliced(colon + 1);
    return field.name.toLower() + ':' + Squeezed(value) + "\r\n";
}

Text CanonicalBody(QByteArrayView body, bool relaxed) {
    Text out;
    out.reserve(body.size() + 2);
    qsizetype at = 0;
    const qsizetype n = body.size();
    while (at < n) {
        qsizetype end = body.indexOf("\r\n", at);
        const qsizetype next = end < 0 ? n : end + 2;
        if (end < 0) end = n;
        const QByteArrayView line = body.sliced(at, end - at);
        if (!relaxed) {
            out.append(line.data(), line.size());
        } else {
            // Runs of white space become one space; none stays at the line's end.
            qsizetype keep = line.size();
            while (keep > 0 && IsWsp(line[keep - 1])) --keep;
            bool space = false;
            for (qsizetype i = 0; i < keep; ++i) {
                if (IsWsp(line[i])) {
                    space = true;
                    continue;
                }
                if (space) out += ' ';
                space = false;
                out += line[i];
            }
        }
        out.append("\r\n", 2);
        at = next;
    }
    // Empty lines at the end do not count; the simple body is at least one line end.
    while (out.endsWith("\r\n\r\n")) out.chop(2);
    if (out == "\r\n") out.clear();
    if (!relaxed && out.isEmpty()) out = "\r\n";
    return out;
}
