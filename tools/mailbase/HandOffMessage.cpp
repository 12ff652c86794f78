#include "tools/mailbase/HandOffMessage.h"

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

// Characters `from` to `to` (counted from 1) of `s`, trimmed.
Text Chars(const Text& s, int from, int to) { return Trim(s.mid(from - 1, to - from + 1)); }

Text TwoDigits(int n) { return Text::number(n).rightJustified(2, '0'); }

}  // namespace

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
    const Text d = Trim(date);
    const Text weekday = Chars(d, 1, 3);
    Text day = Chars(d, 6, 7), month = Chars(d, 9, 11), year = Chars(d, 13, 16);
    Text hour = Chars(d, 18, 19), minute = Chars(d, 21, 22), second = Chars(d, 24, 25);
    Text zone = Chars(d, 27, 31);
    if (day.isEmpty() || month.isEmpty() || year.isEmpty()) {
        day = TwoDigits(now.date().day());
        month = TwoDigits(now.date().month());
        year = Text::number(now.date().year());
    }
    if (hour.isEmpty() || minute.isEmpty() || second.isEmpty()) {
        hour = TwoDigits(now.time().hour());
        minute = TwoDigits(now.time().minute());
        second = TwoDigits(now.time().second());
    }
    if (zone.isEmpty()) zone = "0";
    return (weekday + " " + month + " " + day + ", " + year + " " + hour + ":" + minute + ":" + second + " " + zone)
        .left(40);
}
