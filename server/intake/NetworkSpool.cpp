#include "server/intake/NetworkSpool.h"

#include "server/bbs/MessageFiles.h"
#include "server/bbs/UserDirectory.h"
#include "server/inbound/Recipients.h"
#include "server/intake/EmailBaseWriter.h"
#include "server/intake/TosserProcess.h"
#include "server/net/Base64.h"
#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace {

Text RTrimSpaces(Text s) {
    while (s.endsWith(' ')) s.chop(1);
    return s;
}

Text Boundary(const QDateTime& now, const Text& systemId) {
    return YyMmDd(now.date()) + "." + Text::number(now.time().msecsSinceStartOfDay() / 1000) + "/" + systemId;
}

struct Attachment {
    Text fileName;
    Text base64;
};

Text ComposeInetMessage(const ServerContext& ctx, const QDateTime& now, int n, const Text& to, const Text& subject,
                        const Text& body, const Attachment* attachment, bool returnNotice) {
    const Text systemId = GetSystemId(ctx.bbs);
    const Text boundary = Boundary(now, systemId);
    Text m;
    m += "Message-ID: <V" + Text::number(n) + "@" + systemId + ">" + CRLF;
    m += "From: OSPRINE@" + systemId + CRLF;
    m += "To: " + to + CRLF;
    m += "Subject: " + subject + CRLF;
    m += "Date: " + HeaderDate(now) + CRLF;
    m += Text("X-Mailer: OSPRINE v") + kVersion + CRLF;
    if (returnNotice) m += Text("X-OSPRINE-Status: RETURNED") + CRLF;
    m += "Organization: " + Trim(ctx.bbs.main.BbsName) + CRLF;
    m += Text("MIME-Version: 1.0") + CRLF;
    if (attachment) m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"" + CRLF;
    else m += Text("Content-Type: text/plain; charset=us-ascii") + CRLF;
    m += Text("Content-Transfer-Encoding: 7bit") + CRLF;
    m += CRLF;
    if (attachment) {
        m += Text("This is a MIME-encapsulated message.") + CRLF + CRLF;
        m += "--" + boundary + CRLF;
        m += Text("Content-Type: text/plain; charset=us-ascii") + CRLF + CRLF;
    }
    m += body + CRLF;
    if (attachment) {
        m += CRLF;
        m += "--" + boundary + CRLF;
        m += "Content-Type: application/octect-stream; name=\"" + attachment->fileName + "\"" + CRLF;
        m += Text("Content-Transfer-Encoding: base64") + CRLF + CRLF;
        m += attachment->base64 + CRLF;
        m += "--" + boundary + "--" + CRLF;
    }
    return m;
}

// The shell's quoting of a single word: '...' with every ' written as '\''.
Text ShellQuote(const Text& word) { return "'" + Text(word).replace("'", "'\\''") + "'"; }

// The last tosser started by this server, so that a second one is not
// started in the moment before the first has raised its "BT*.FLG" flag.
pid_t gTosserPid = 0;

// A flag this old while no tosser of ours runs was most likely left by a
// tosser that died; it is reported (once an hour), never removed: it may be
// the BBS's own.
constexpr qint64 kStaleFlagSeconds = 30 * 60;
constexpr qint64 kStaleReportEveryMs = 60 * 60 * 1000;
QString gHeldBy;                       // the stale flag that holds tossing back, or ""
QElapsedTimer gStaleClock;             // the hours between reports, on a clock that never jumps
qint64 gLastStaleReport = -kStaleReportEveryMs;

void CheckStaleFlag(const ServerContext& ctx, const QString& flag) {
    const QFileInfo info(flag);
    const qint64 age = info.lastModified().secsTo(QDateTime::currentDateTime());
    if (age < kStaleFlagSeconds) {
        gHeldBy.clear();
        return;
    }
    gHeldBy = flag;
    if (!gStaleClock.isValid()) gStaleClock.start();
    if (gStaleClock.elapsed() - gLastStaleReport < kStaleReportEveryMs) return;
    gLastStaleReport = gStaleClock.elapsed();
    const Text text = "Tossing is held: " + TextFromPath(flag) + " is " + Text::number(age / 60) +
                      " minutes old and no tosser started by this server runs.";
    ctx.log.ReportServer(text);
    LogError("TossMessages", kVersion, "modOSPRINE", text);
}

}  // namespace

bool WriteInetMessage(const ServerContext& ctx, const Text& recipient, const Text& subjectText, const Text& bodyText,
                      const QString& attachmentPath, bool returnNotice, const QString& replacing) {
    const Text to = LCase(Trim(recipient));
    const Text subject = Trim(subjectText);
    const Text body = RTrimSpaces(bodyText);
    const QString path = attachmentPath.trimmed();
    if (to.isEmpty() || subject.isEmpty() || body.isEmpty()) return true;

    const QDateTime now = QDateTime::currentDateTime();
    const Text systemId = GetSystemId(ctx.bbs);
    Attachment attachment;
    bool attach = false;
    if (!path.isEmpty() && FileExists(path)) {
        bool ok = false;
        const QByteArray bytes = ReadFileBytes(path, &ok);
        attach = ok;
        attachment = {GetFileBasename(TextFromPath(path)), clsBase64::EncodeArr(bytes)};
    }
    const QString queueDir = ctx.bbs.QueueDir();
    const int n = GetNextMessageNumber(queueDir);
    const Text message = ComposeInetMessage(ctx, now, n, to, subject, body, attach ? &attachment : nullptr, returnNotice);

    if (GetAddressDomain(to) != systemId) {
        if (!replacing.isEmpty() ? ReplaceMessageFile(replacing, message) : WriteNewMessageFile(queueDir, message) != 0)
            return true;
        LogError("WriteInetMessage", kVersion, "modOSPRINE", "No queue file could be written in " + TextFromPath(queueDir));
        return false;
    }
    const int32_t u = FindUser(ctx, to);
    if (u <= 0) return true;
    Text forward = CheckForwarding(ctx, u);
    if (forward.isEmpty()) forward = Trim(GetUser(ctx.bbs, u).Handle());
    if (!WriteMessage(ctx, u, forward, message, 0)) return false;
    if (!replacing.isEmpty() && !RemoveFile(replacing))
        LogError("WriteInetMessage", kVersion, "modOSPRINE", "Cannot delete " + TextFromPath(replacing));
    return true;
}

Text TosserScript(const QString& mainDir, const QDateTime& now) {
    const Text dir = ShellQuote(TextFromPath(mainDir));
    const Text self = ShellQuote(TextFromPath(PathJoin(mainDir, QStringLiteral("OSPRTOSS.BAT"))));
    const QDate d = now.date();
    const Text date = Text::number(d.month()).rightJustified(2, '0') + "-" + Text::number(d.day()).rightJustified(2, '0') +
                      "-" + Text::number(d.year());
    Text s;
    s += Text("# This file created by OSPRINE v") + kVersion + " @ " + TimeText(now) + " on " + date + "\n";
    s += "cd " + dir + " || exit 1\n";
    s += "./ZUUCP.EXE 0 /R\n";
    s += "cd " + dir + "\n";
    s += "rm -f " + self + "\n";
    s += "exit\n";
    return s;
}

void TossMessages(const ServerContext& ctx) {
    if (TosserShellRunning(gTosserPid)) return;  // the cheapest test first: this runs after every hand-off
    const QString mainDir = ctx.bbs.MainDir();
    if (const QStringList flags = ListFiles(mainDir, QStringLiteral("BT*.FLG")); !flags.isEmpty()) {
        CheckStaleFlag(ctx, PathJoin(mainDir, flags.first()));
        return;
    }
    gHeldBy.clear();
    if (ListFiles(ctx.bbs.SpoolTmpDir(), QStringLiteral("*.D")).isEmpty()) return;
    // Written through a temporary file: a shell still reading the previous
    // script keeps its own copy.
    const QString script = PathJoin(mainDir, QStringLiteral("OSPRTOSS.BAT"));
    if (!WriteFileAtomic(script, TosserScript(mainDir, QDateTime::currentDateTime()))) {
        LogError("TossMessages", kVersion, "modOSPRINE", "Cannot write " + TextFromPath(script));
        return;
    }
    const pid_t pid = StartTosserShell(script, mainDir);
    if (pid == 0) {
        LogError("TossMessages", kVersion, "modOSPRINE", "Cannot start /bin/sh " + TextFromPath(script));
        return;
    }
    gTosserPid = pid;
}

QString TossingHeldBy() { return gHeldBy; }

Text ConvertTo7Bit(const Text& text) {
    if (Trim(text).isEmpty()) return text;
    Text out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) >= 128) c = char(static_cast<unsigned char>(c) - 128);
    return out;
}
