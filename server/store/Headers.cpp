#include "server/store/Headers.h"

#include "server/store/HeaderView.h"
#include "server/store/Lines.h"

#include <QByteArrayView>
#include <algorithm>

namespace {
const Text kAttachmentMark = "\r\nContent-Type: application";

// Calls f(line) for each line of text (ends: CR LF, lone CR or lone LF); a
// text that ends with a line end, or is empty, has one last empty line. The
// lines are views into text, so walking a large message copies nothing. f
// returns false to stop. With a mark, the text ends where the mark begins
// (it begins with a line end).
template <typename F>
void ForEachHeaderLine(QByteArrayView text, F f, QByteArrayView mark = {}) {
    const char* const end = text.data() + text.size();
    bool stopped = false;
    ForEachLine(std::string_view(text.data(), size_t(text.size())), LineEnds::Any, [&](std::string_view line) {
        const char* const after = line.data() + line.size();
        stopped = !f(QByteArrayView(line.data(), qsizetype(line.size()))) ||
                  (!mark.isEmpty() && QByteArrayView(after, end - after).startsWith(mark));
        return !stopped;
    });
    if (!stopped && (text.isEmpty() || text.back() == '\r' || text.back() == '\n')) f(QByteArrayView());
}

}   // namespace

qsizetype AttachmentStart(const Text& message) { return message.indexOf(kAttachmentMark); }

Text GetHeaderField(const Text& name, const Text& message) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (Trim(name).isEmpty() || std::all_of(message.begin(), message.end(), blank)) return {};
    // Only the header is read, and nothing after the attachment mark: the
    // walk stops at the end of the field or of the header.
    const Text upperName = UCase(FieldNameOf(name));
    Text value;
    bool found = false;
    ForEachHeaderLine(
        message,
        [&](QByteArrayView line) {
            if (found) {
                // A folded continuation starts with a space; TABs count as spaces.
                if (!IsContinuationLine(line)) return false;
                Text more = line.toByteArray();
                more.replace('\t', ' ');
                value += more;
                return true;
            }
            if (IsBlankLine(line)) return false;
            if (LineNames(line, upperName, true)) {
                Text rest = line.sliced(upperName.size() + 1).toByteArray();
                rest.replace('\t', ' ');
                value = Trim(rest);
                found = true;
            }
            return true;
        },
        kAttachmentMark);
    return value;
}

Text ChangeHeaderField(const Text& name, const Text& value, const Text& message, bool addIfMissing) {
    const Text field = FieldNameOf(name);
    const Text newValue = Trim(value);
    if (field.isEmpty()) return message;
    const qsizetype tail = AttachmentStart(message);
    const QByteArrayView head(message.constData(), tail >= 0 ? tail : message.size());
    const Text upperName = UCase(field);

    Text out;
    out.reserve(head.size() + newValue.size() + field.size() + 8);
    enum { Searching, DroppingContinuation, Copying } state = Searching;
    bool found = false;
    ForEachHeaderLine(head, [&](QByteArrayView line) {
        if (state == DroppingContinuation) {
            if (IsContinuationLine(line)) return true;
            state = Copying;
        }
        if (state == Searching && LineNames(line, upperName)) {
            found = true;
            if (!newValue.isEmpty()) {
                out += Trim(line.first(upperName.size()).toByteArray());
                out += ": ";
                out += newValue;
                out += CRLF;
            }
            state = DroppingContinuation;
            return true;
        }
        out += line;
        out += CRLF;
        return true;
    });
    // The insertion point depends on whether the field exists anywhere, so a
    // message without it is rebuilt in a second pass.
    if (!found && addIfMissing && !newValue.isEmpty()) {
        out.clear();
        bool inserted = false;
        ForEachHeaderLine(head, [&](QByteArrayView line) {
            if (!inserted && !IsTraceLine(line) && !IsContinuationLine(line)) {
                out += field + ": " + newValue + CRLF;
                inserted = true;
            }
            out += line;
            out += CRLF;
            return true;
        });
        // Nothing but trace and continuation lines: the field goes last
        // rather than being dropped.
        if (!inserted) out += field + ": " + newValue + CRLF;
    }
    out = StripTrailingCrLf(out);
    if (tail >= 0) out.append(message.constData() + tail, message.size() - tail);
    return out;
}

Text RemoveHeaderFields(const Text& head, const TextList& names) {
    TextList upperNames;
    for (const Text& name : names) upperNames.append(UCase(FieldNameOf(name)));
    const auto named = [&](QByteArrayView line) {
        return std::any_of(upperNames.begin(), upperNames.end(),
                           [&](const Text& upper) { return LineNames(line, upper, true); });
    };
    Text out;
    out.reserve(head.size());
    bool dropping = false;
    ForEachHeaderLine(head, [&](QByteArrayView line) {
        if (dropping && IsContinuationLine(line)) return true;
        dropping = named(line);
        if (!dropping) {
            out += line;
            out += CRLF;
        }
        return true;
    });
    return StripTrailingCrLf(out) + (head.endsWith('\n') ? CRLF : "");
}

int CountHeaderFields(QByteArrayView head, const Text& name) {
    const Text upperName = UCase(FieldNameOf(name));
    int count = 0;
    ForEachHeaderLine(head, [&](QByteArrayView line) {
        if (IsBlankLine(line)) return false;
        if (LineNames(line, upperName, true)) ++count;
        return true;
    });
    return count;
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
