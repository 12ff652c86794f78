#include "server/intake/MessageText.h"

#include "server/store/Headers.h"

namespace {

bool IsBlankLine(QByteArrayView line) {
    for (char c : line)
        if (c != ' ' && c != '\t') return false;
    return true;
}

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

}  // namespace

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

MessageText SplitMessage(const Text& message) {
    MessageText m;
    QByteArrayView text(message);
    if (const qsizetype p = AttachmentStart(message); p >= 0) {
        m.tail = message.mid(p);
        m.tail.replace("\r\n\t", " ");
        text = text.first(p);
    }
    // The header block ends at the first empty line, whatever its line end.
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype end = LineEnd(text, from);
        if (end == from) {
            m.hasBody = true;
            const QByteArrayView rest = text.sliced(NextLine(text, end));
            m.body.reserve(rest.size() + rest.size() / 32 + 16);  // growth would double the peak
            AppendCrLf(m.body, rest);
            break;
        }
        m.head.append(text.sliced(from, end - from));
        m.head.append("\r\n", 2);
        from = NextLine(text, end);
    }
    // Every copy handed on drops these; dropping them once here, in place,
    // spares a copy of the body or tail per recipient.
    while (m.body.endsWith("\r\n")) m.body.chop(2);
    while (m.tail.endsWith("\r\n")) m.tail.chop(2);
    return m;
}

void UndoDotStuffing(Text& text) {
    // Lines end in CR LF here, so a line begins after every LF.
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
