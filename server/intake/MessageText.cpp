#include "server/intake/MessageText.h"

#include "server/store/HeaderView.h"
#include "server/store/Headers.h"

#include <cstring>

namespace {

// Appends `text` to `out` with every line end (CR LF, lone CR, lone LF) as CR LF.
void AppendCrLf(Text& out, QByteArrayView text) {
    const qsizetype n = text.size();
    qsizetype from = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        out.append(text.sliced(from, i - from));
        out.append("\r\n", 2);
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        from = i + 1;
    }
    out.append(text.sliced(from));
}

// Where the line starting at `from` ends (the index of its line-end character or n).
qsizetype LineEnd(QByteArrayView text, qsizetype from) {
    const qsizetype n = text.size();
    while (from < n && text[from] != '\r' && text[from] != '\n') ++from;
    return from;
}

qsizetype NextLine(QByteArrayView text, qsizetype end) {
    if (end >= text.size()) return text.size();
    return end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
}

}   // namespace

QByteArrayView HeaderBlock(const Text& message) {
    const QByteArrayView text(message);
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype end = LineEnd(text, from);
        const qsizetype next = NextLine(text, end);
        if (IsBlankLine(text.sliced(from, end - from))) return text.first(next);
        from = next;
    }
    return text;
}

namespace {

QByteArrayView WithoutTrailingCrLf(QByteArrayView text) {
    while (text.endsWith("\r\n")) text.chop(2);
    return text;
}

// The bytes of the message itself, not copied; see MessageText.
Text Borrowed(QByteArrayView text) { return QByteArray::fromRawData(text.data(), text.size()); }

// A line that begins with "..": looked for line by line with memchr, which
// is many times faster on a long message than a search for the three bytes.
bool NeedsUnstuffing(const Text& text) {
    if (text.startsWith("..")) return true;
    const char* const end = text.constData() + text.size();
    for (const char* at = text.constData(); (at = static_cast<const char*>(std::memchr(at, '\n', size_t(end - at))));) {
        ++at;
        if (end - at >= 2 && at[0] == '.' && at[1] == '.') return true;
    }
    return false;
}

}   // namespace

MessageText SplitMessage(const Text& message) {
    MessageText m;
    QByteArrayView text(message);
    if (const qsizetype p = AttachmentStart(message); p >= 0) {
        const QByteArrayView tail = text.sliced(p);
        if (tail.contains("\r\n\t")) {
            m.tail = tail.toByteArray().replace("\r\n\t", " ");
            while (m.tail.endsWith("\r\n")) m.tail.chop(2);
        } else {
            m.tail = Borrowed(WithoutTrailingCrLf(tail));
        }
        text = text.first(p);
    }
    // The header block ends at the first empty line, whatever its line end.
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype end = LineEnd(text, from);
        if (end == from) {
            m.hasBody = true;
            const QByteArrayView rest = text.sliced(NextLine(text, end));
            if (LineEndsAreCrLf(rest)) {
                m.body = Borrowed(WithoutTrailingCrLf(rest));
            } else {
                m.body.reserve(rest.size() + rest.size() / 32 + 16);   // growth would double the peak
                AppendCrLf(m.body, rest);
                while (m.body.endsWith("\r\n")) m.body.chop(2);
            }
            break;
        }
        m.head.append(text.sliced(from, end - from));
        m.head.append("\r\n", 2);
        from = NextLine(text, end);
    }
    return m;
}

void UndoDotStuffing(Text& text) {
    if (!NeedsUnstuffing(text)) return;   // a borrowed body stays borrowed
    // Lines end in CR LF here, so a line begins after every LF. Writing
    // detaches a borrowed text first, so the message itself is never changed.
    char* data = text.data();
    const qsizetype n = text.size();
    qsizetype out = 0;
    bool lineStart = true;
    for (qsizetype i = 0; i < n; ++i) {
        if (lineStart && data[i] == '.' && i + 1 < n && data[i + 1] == '.') ++i;
        lineStart = data[i] == '\n';
        data[out++] = data[i];
    }
    text.truncate(out);
}

void StripTrailingCrLf(TextList& pieces) {
    while (!pieces.isEmpty()) {
        Text& last = pieces.last();
        while (last.endsWith("\r\n")) last.chop(2);
        if (!last.isEmpty()) return;
        pieces.removeLast();
    }
}

qsizetype PiecesLength(const TextList& pieces) {
    qsizetype n = 0;
    for (const Text& p : pieces) n += p.size();
    return n;
}
