#include "server/intake/Tossing.h"

#include "server/intake/TosserProcess.h"
#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace {

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
QString gHeldBy;             // the stale flag that holds tossing back, or ""
QElapsedTimer gStaleClock;   // the hours between reports, on a clock that never jumps
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
    ctx.Log().ReportServer(text);
    LogError("TossMessages", kVersion, "modOSPRINE", text);
}

}   // namespace

Text TosserScript(const QString& mainDir, const QDateTime& now) {
    const Text dir = ShellQuote(TextFromPath(mainDir));
    const Text self = ShellQuote(TextFromPath(PathJoin(mainDir, QStringLiteral("OSPRTOSS.BAT"))));
    const QDate d = now.date();
    const Text date = Text::number(d.month()).rightJustified(2, '0') + "-" +
                      Text::number(d.day()).rightJustified(2, '0') + "-" + Text::number(d.year());
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
    if (TosserShellRunning(gTosserPid)) return;   // the cheapest test first: this runs after every hand-off
    const QString mainDir = ctx.Bbs().MainDir();
    if (const QStringList flags = ListFiles(mainDir, QStringLiteral("BT*.FLG")); !flags.isEmpty()) {
        CheckStaleFlag(ctx, PathJoin(mainDir, flags.first()));
        return;
    }
    gHeldBy.clear();
    if (ListFiles(ctx.Bbs().SpoolTmpDir(), QStringLiteral("*.D")).isEmpty()) return;
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
