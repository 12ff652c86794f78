#pragma once
// A complete test BBS installation with the records a running server holds,
// for the intake tests. The current directory moves into the installation so
// the error log lands there. Event-window lines are kept for the tests.
#include "server/bbs/BbsConfig.h"
#include "server/bbs/MessageFiles.h"
#include "server/bbs/ServerContext.h"
#include "server/bbs/UserDirectory.h"
#include "server/intake/Intake.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"
#include "tests/support/TempBbs.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <optional>

inline TestBbsOptions IntakeBbsOptions() {
    TestBbsOptions o;
    o.installTosser = false;
    return o;
}

class IntakeInstall {
public:
    explicit IntakeInstall(const TestBbsOptions& options = IntakeBbsOptions())
        : install_(options), previousDir_(QDir::currentPath()) {
        const TestBbsLayout& l = install_.Layout();
        bbs.paths.fields[0] = TextFromPath(l.mainDir);
        bbs.paths.fields[2] = TextFromPath(l.dataDir);
        bbs.paths.fields[6] = TextFromPath(l.tempDir);
        bbs.paths.fields[7] = TextFromPath(l.messageDir);
        GetMainCfg(bbs.main, l.mainDir);
        EXPECT_EQ(ReadNetCfg(bbs), NetCfgResult::Ok);
        QDir::setCurrent(l.mainDir);
        log.SetSink([this](const Text& line) { window.append(line); });
        stats.onUpdate = [this] { ++statsUpdates; };
        CreateHandlesUIP(bbs, settings.AutorespondUser, "");
    }
    ~IntakeInstall() { QDir::setCurrent(previousDir_); }

    const TestBbsLayout& Layout() const { return install_.Layout(); }
    void List(const Text& section, const Text& value) { PutData(section, value, ctx.KeyedList()); }

    // Event-window lines without their "hh:nn:ss : [slot] " prefix.
    TextList Events() const {
        TextList out;
        for (const Text& line : window) {
            const qsizetype close = line.indexOf("] ");
            out.append(close >= 0 ? line.mid(close + 2) : line);
        }
        return out;
    }
    bool Logged(const Text& text) const { return Events().contains(text); }

    // Files "V" + n + ".D" of a directory, by number.
    static QStringList MessageFiles(const QString& dir) {
        QStringList names = ListFiles(dir, "V*.D");
        std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
            return a.mid(1).chopped(2).toInt() < b.mid(1).chopped(2).toInt();
        });
        return names;
    }
    QStringList HandOffs() const { return MessageFiles(bbs.SpoolTmpDir()); }
    QStringList QueueFiles() const { return MessageFiles(bbs.QueueDir()); }
    Text HandOff(int i = 0) const {
        const QStringList files = HandOffs();
        return i < files.size() ? ReadFileBytes(PathJoin(bbs.SpoolTmpDir(), files[i])) : Text();
    }

    // Runs SaveMessage and the loop until it has answered (at most `seconds`).
    std::optional<SaveResult> Save(const Text& message, const Text& recipients,
                                   const Text& returnPath = "sender@remote.example", int seconds = 30) {
        ReceivedMessage m;
        m.returnPath = returnPath;
        m.recipients = recipients;
        m.message = message;
        m.slot = 3;
        m.sendingHost = "192.0.2.7";
        std::optional<SaveResult> result;
        intake.SaveMessage(m, [&](SaveResult r) { result = r; });
        QDeadlineTimer deadline(seconds * 1000);
        while (!result && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return result;
    }

private:
    TempBbs install_;
    QString previousDir_;

public:
    SettingsRecord settings;
    BbsConfig bbs;
    Statistics stats;
    RunState run;
    EventLog log{install_.Layout().mainDir, settings.MaxLogSize};
    ServerContext ctx{settings, bbs, stats, log, run};
    Intake intake{ctx};
    TextList window;
    int statsUpdates = 0;
};

// A plain message as a client sends it, dot-stuffing in place.
inline Text Mail(const Text& headers, const Text& body = "Hello.\r\n") { return headers + "\r\n" + body; }
