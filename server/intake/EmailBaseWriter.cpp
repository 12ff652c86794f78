#include "server/intake/EmailBaseWriter.h"

#include "server/bbs/EmailBaseLock.h"
#include "server/bbs/EmailRecord.h"
#include "server/bbs/MessageFiles.h"
#include "server/bbs/UserDirectory.h"
#include "server/inbound/Recipients.h"
#include "server/intake/MessageText.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Headers.h"
#include "server/store/Version.h"

#include <cmath>

namespace {

Text Two(int n) { return Text::number(n).rightJustified(2, '0'); }

// Characters `from` to `to` (counted from 1) of the text, trimmed.
Text Chars(const Text& s, int from, int to) { return Trim(s.mid(from - 1, to - from + 1)); }

bool QueueForInternet(const ServerContext& ctx, const ForwardAddress& to, const Text& text, int16_t slot,
                      DiskSink sink) {
    const Text message = ChangeHeaderField("To", "<" + to.user + "@" + to.system + ">", text, true);
    ctx.Log().Report(slot, "Email forwarded to: " + LCase(GetPath(GetHeaderField("To", message))));
    const QString queueDir = ctx.Bbs().QueueDir();
    const auto report = [queueDir] {
        LogError("WriteMessage", kVersion, "modOSPRINE", "No queue file could be written in " + TextFromPath(queueDir));
    };
    const DiskJob job = NewMessageFileJob(queueDir, TextList{message, CRLF}, std::make_shared<int>(0));
    return sink.Take(ReportingFailure(job, report));
}

// Files the record and its body into the e-mail base (network 0) or the
// network spool: file work only, so that the disk thread can run it.
DiskJob EmailBaseJob(const QString& messageDir, const QString& dataDir, EmailRecord r, const Text& body,
                     bool emailBase) {
    return {[=]() mutable {
                // The BBS's tosser may be filing at the same moment: the number,
                // the body position and the record slot are taken under the one lock.
                const EmailBaseLock lock(messageDir);
                if (!lock.Held()) {
                    LogError("WriteMessage", kVersion, "modOSPRINE", lock.Error().toLocal8Bit());
                    return false;
                }
                r.SeqNum = GetSeqNum(dataDir);
                const bool stored =
                    emailBase ? AppendToEmailBase(messageDir, r, body) : AppendToSpoolNet(dataDir, r, body);
                if (stored) CountEmailWritten(dataDir);
                return stored;
            },
            {},
            {}};
}

}   // namespace

ForwardAddress ParseForwardAddress(const ServerContext& ctx, const Text& forward) {
    ForwardAddress a;
    const TextList at = Explode("@", Trim(forward), 2, 2);
    a.user = LCase(Trim(at[0]));
    if (IsNumeric(a.user)) a.user = Trim(GetUser(ctx.Bbs(), ValLong(a.user)).Handle());
    const qsizetype star = at[1].indexOf('*');
    if (star < 0) {
        a.system = "0";
        a.network = 0;
    } else {
        a.system = LCase(Trim(at[1].left(star)));
        a.network = int(ValLong(at[1].mid(star + 1)));
    }
    return a;
}

Text EmailBody(const Text& text) {
    const Text t = ConvertCrLf(text);
    qsizetype start = -1;
    if (t.startsWith("\r\n"))
        start = 2;
    else if (const qsizetype blank = t.indexOf("\r\n\r\n"); blank >= 0)
        start = blank + 4;
    if (start < 0 || start >= t.size()) return {};
    Text body = t.mid(start);
    if (!body.endsWith("\r\n")) body += CRLF;
    return body;
}

Text NormaliseDateText(const Text& date, const QDateTime& now) {
    const Text d = Trim(date);
    const Text weekday = Chars(d, 1, 3);
    Text day = Chars(d, 6, 7), month = Chars(d, 9, 11), year = Chars(d, 13, 16);
    Text hour = Chars(d, 18, 19), minute = Chars(d, 21, 22), second = Chars(d, 24, 25);
    Text zone = Chars(d, 27, 31);
    if (day.isEmpty() || month.isEmpty() || year.isEmpty()) {
        day = Two(now.date().day());
        month = Two(now.date().month());
        year = Text::number(now.date().year()).rightJustified(4, '0');
    }
    if (hour.isEmpty() || minute.isEmpty() || second.isEmpty()) {
        hour = Two(now.time().hour());
        minute = Two(now.time().minute());
        second = Two(now.time().second());
    }
    if (zone.isEmpty()) zone = "0";
    return weekday + " " + month + " " + day + ", " + year + " " + hour + ":" + minute + ":" + second + " " + zone;
}

int32_t LocalTimeWritten(const QDateTime& now) {
    const qint64 days = QDate(1970, 1, 1).daysTo(now.date());
    const double seconds = double(days) * 86400.0 + now.time().msecsSinceStartOfDay() / 1000.0;
    return int32_t(std::llround(seconds));
}

bool WriteMessage(const ServerContext& ctx, int32_t /*userNumber*/, const Text& forward, const Text& text, int16_t slot,
                  DiskSink sink) {
    if (Trim(forward).isEmpty()) return true;
    const ForwardAddress to = ParseForwardAddress(ctx, forward);
    if (to.user.isEmpty() || to.system.isEmpty()) return true;
    if (to.network == 9) return QueueForInternet(ctx, to, text, slot, sink);

    EmailRecord r;
    r.ToUser = to.user;
    r.ToSystem = to.system;
    r.Network = int16_t(to.network == 0 ? 1 : to.network);
    r.ParsedNetwork = int16_t(to.network);
    if (to.network == 0) {
        r.ToSystem = GetNetEntry(ctx.Bbs(), 1, "SYSTEMID");
        r.ToUserNumber = FindUser(ctx, to.user);
    }
    const Text head = HeaderBlock(text).toByteArray();   // the fields are read from the header block alone
    const Text sender = GetPath(GetHeaderField("From", head));
    if (const qsizetype at = sender.indexOf('@'); at >= 0) {
        r.FromUser = LCase(Trim(sender.left(at)));
        r.FromSystem = LCase(Trim(sender.mid(at + 1)));
    }
    r.Subject = Trim(GetHeaderField("Subject", head));
    const Text date = Trim(GetHeaderField("Date", head));
    if (r.FromUser.isEmpty() || r.FromSystem.isEmpty() || r.Subject.isEmpty() || date.isEmpty()) return true;

    const QDateTime now = QDateTime::currentDateTime();
    r.TimeWritten = LocalTimeWritten(now);
    r.DateText = NormaliseDateText(date, now);
    if (to.network == 0)
        ctx.Log().Report(slot, "Email forwarded to: " + Trim(r.ToUser));
    else
        ctx.Log().Report(
            slot, "Email forwarded to: " + Trim(r.ToUser) + "@" + Trim(r.ToSystem) + "*" + Text::number(to.network));
    return sink.Take(EmailBaseJob(ctx.Bbs().MessageDir(), ctx.Bbs().DataDir(), r, EmailBody(text), to.network == 0));
}
