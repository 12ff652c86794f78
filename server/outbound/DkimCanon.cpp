#include "server/outbound/DkimCanon.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Appends `text` to `out` with runs of blanks made one space and no blank
// at its end.
void AppendCollapsed(Text& out, QByteArrayView text) {
    bool pendingBlank = false;
    for (const char c : text) {
        if (IsBlank(c)) {
            pendingBlank = true;
            continue;
        }
        if (pendingBlank) out += ' ';
        pendingBlank = false;
        out += c;
    }
}

}   // namespace

QList<HeaderField> HeaderFields(const Text& message) {
    QList<HeaderField> fields;
    qsizetype at = 0;
    while (at < message.size()) {
        qsizetype end = message.indexOf(CRLF, at);
        if (end < 0) end = message.size();
        if (end == at) break;   // the empty line that ends the header
        const Text line = message.mid(at, end - at);
        if (IsBlank(line[0]) && !fields.isEmpty()) {
            fields.last().field += CRLF + line;
        } else {
            const qsizetype colon = line.indexOf(':');
            fields.append({Trim(colon < 0 ? line : line.left(colon)), line});
        }
        at = end + 2;
    }
    return fields;
}

Text MessageBody(const Text& message) {
    if (message.startsWith(CRLF)) return message.mid(2);
    const qsizetype blank = message.indexOf("\r\n\r\n");
    return blank < 0 ? Text() : message.mid(blank + 4);
}

Text RelaxedHeader(const Text& field) {
    const qsizetype colon = field.indexOf(':');
    const Text name = colon < 0 ? field : field.left(colon);
    Text value = colon < 0 ? Text() : field.mid(colon + 1);
    value.replace("\r\n", "");
    Text out = LCase(Trim(name)) + ':';
    qsizetype start = 0;
    while (start < value.size() && IsBlank(value[start])) ++start;
    AppendCollapsed(out, QByteArrayView(value).sliced(start));
    return out;
}

Text RelaxedBody(const Text& body) {
    Text out;
    out.reserve(body.size());
    qsizetype at = 0;
    qsizetype emptyLines = 0;   // held back until a line with text follows
    while (at < body.size()) {
        qsizetype end = body.indexOf(CRLF, at);
        const bool ended = end >= 0;
        if (!ended) end = body.size();
        Text line;
        AppendCollapsed(line, QByteArrayView(body).sliced(at, end - at));
        if (line.isEmpty()) {
            ++emptyLines;
        } else {
            for (; emptyLines > 0; --emptyLines) out += CRLF;
            out += line + CRLF;
        }
        at = ended ? end + 2 : body.size();
    }
    return out;
}
