#include "tools/mailbase/HandOffMessage.h"

#include "server/intake/EmailBaseWriter.h"
#include "server/store/Headers.h"

namespace {

// The address inside a header value; a value without "@" (a bare user name
// or number) is taken whole, without angle brackets.
Text AddressOf(const Text& value) {
    const Text path = GetPath(value);
    if (!path.isEmpty() || value.contains('@')) return path;
    Text bare = Trim(value);
    bare.replace('<', "").replace('>', "");
    return Trim(bare);
}

Text BodyAfter(const Text& text, qsizetype start) {
    Text body = text.mid(start);
    while (body.endsWith(CRLF)) body.chop(2);
    if (!body.isEmpty()) body += CRLF;
    return body;
}

}   // namespace

HandOffMessage ParseHandOff(const Text& file) {
    const Text text = ConvertCrLf(file);
    const qsizetype blank = text.startsWith(CRLF) ? 0 : text.indexOf("\r\n\r\n");
    const Text head = blank < 0 ? text : text.left(blank + 2);
    HandOffMessage m;
    m.to = AddressOf(GetHeaderField("To", head));
    m.from = AddressOf(GetHeaderField("From", head));
    if (m.from.isEmpty()) m.from = AddressOf(GetHeaderField("Return-Path", head));
    m.subject = Trim(GetHeaderField("Subject", head));
    m.date = Trim(GetHeaderField("Date", head));
    if (blank >= 0) m.body = BodyAfter(text, blank == 0 ? 2 : blank + 4);
    return m;
}

Text EmailDateText(const Text& date, const QDateTime& now) {
    // The server's own normaliser, cut to the record's field.
    return NormaliseDateText(date, now).left(40);
}
