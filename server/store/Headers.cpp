#include "server/store/Headers.h"

namespace {
const Text kAttachmentMark = "\r\nContent-Type: application";

// Calls f(line) for each line of text; lines end at CR LF, lone CR or lone LF.
// f returns false to stop.
template <typename F>
void ForEachLine(const Text& text, F f) {
    const qsizetype n = text.size();
    qsizetype from = 0;
    while (from <= n) {
        qsizetype at = from;
        while (at < n && text[at] != '\r' && text[at] != '\n') ++at;
        if (!f(text.mid(from, at - from))) return;
        if (at >= n) return;
        from = at + ((text[at] == '\r' && at + 1 < n && text[at + 1] == '\n') ? 2 : 1);
        if (from == n) {  // text ended with a line end: one last empty line
            f(Text());
            return;
        }
    }
}

Text FieldName(const Text& name) {
    Text n = Trim(name);
    const qsizetype colon = n.indexOf(':');
    return colon >= 0 ? n.left(colon) : n;
}

// The part of a line before its first ":", upper-cased, or a null text when
// there is no ":" (a line without one never names a field).
bool LineNames(const Text& line, const Text& upperName) {
    const qsizetype colon = line.indexOf(':');
    const Text key = colon >= 0 ? line.left(colon) : line;
    return UCase(key) == upperName;
}

bool IsContinuation(const Text& line) { return !line.isEmpty() && (line[0] == ' ' || line[0] == '\t'); }
}  // namespace

qsizetype AttachmentStart(const Text& message) { return message.indexOf(kAttachmentMark); }

Text GetHeaderField(const Text& name, const Text& message) {
    if (Trim(name).isEmpty() || Trim(message).isEmpty()) return {};
    const qsizetype tail = AttachmentStart(message);
    const Text upperName = UCase(FieldName(name));
    Text value;
    bool found = false;
    ForEachLine(tail >= 0 ? message.left(tail) : message, [&](Text line) {
        line.replace('\t', ' ');
        if (found) {
            if (!line.startsWith(' ')) return false;
            value += line;
            return true;
        }
        if (Trim(line).isEmpty()) return false;
        if (LineNames(line, upperName)) {
            const qsizetype colon = line.indexOf(':');
            value = colon >= 0 ? Trim(line.mid(colon + 1)) : Text();
            found = true;
        }
        return true;
    });
    return found ? value : Text();
}

Text ChangeHeaderField(const Text& name, const Text& value, const Text& message, bool addIfMissing) {
    const Text field = FieldName(name);
    const Text newValue = Trim(value);
    if (field.isEmpty()) return message;
    const qsizetype tail = AttachmentStart(message);
    const Text head = tail >= 0 ? message.left(tail) : message;
    const Text attachment = tail >= 0 ? message.mid(tail) : Text();
    const Text upperName = UCase(field);

    Text out;
    out.reserve(head.size() + newValue.size() + field.size() + 8);
    enum { Searching, DroppingContinuation, Copying } state = Searching;
    // The insertion point depends on whether the field exists anywhere, so
    // a message without it is rebuilt in a second pass below.
    bool foundAny = false;
    ForEachLine(head, [&](const Text& line) {
        if (state == DroppingContinuation) {
            if (IsContinuation(line)) return true;
            state = Copying;
        }
        if (state == Searching && LineNames(line, upperName)) {
            foundAny = true;
            if (!newValue.isEmpty()) {
                const qsizetype colon = line.indexOf(':');
                out += Trim(line.left(colon >= 0 ? colon : line.size())) + ": " + newValue + CRLF;
            }
            state = DroppingContinuation;
            return true;
        }
        out += line;
        out += CRLF;
        return true;
    });
    if (!foundAny && addIfMissing && !newValue.isEmpty()) {
        out.clear();
        bool inserted = false;
        ForEachLine(head, [&](const Text& line) {
            if (!inserted) {
                const Text up = UCase(line.left(12));
                const bool traceLine = up.startsWith("RETURN-PATH:") || up.startsWith("RECEIVED:");
                if (!traceLine && !IsContinuation(line)) {
                    out += field + ": " + newValue + CRLF;
                    inserted = true;
                }
            }
            out += line;
            out += CRLF;
            return true;
        });
    }
    return StripTrailingCrLf(out) + attachment;
}

Text GetPath(const Text& address) {
    Text t = Trim(address);
    if (!t.contains('@')) return {};
    const bool hasOpen = t.contains('<'), hasClose = t.contains('>');
    if (!hasOpen && !hasClose) {
        const qsizetype paren = t.indexOf('(');
        return paren >= 0 ? Trim(t.left(paren)) : t;
    }
    if (!hasOpen) return {};
    Text inner = t.mid(t.indexOf('<') + 1);
    const qsizetype close = inner.indexOf('>');
    if (close < 0) return {};
    inner = inner.left(close);
    const qsizetype colon = inner.indexOf(':');
    if (colon >= 0) inner = inner.mid(colon + 1);
    return Trim(inner);
}
