#pragma once
// A complete test BBS installation with the records a server holds: the
// context the inbound service runs on. The current directory moves into the
// installation, so the error log of a run lands there too. Event-window
// lines are kept for the tests to read.
#include "server/bbs/ServerContext.h"
#include "server/bbs/UserDirectory.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"
#include "tests/support/TempBbs.h"

#include <gtest/gtest.h>
#include <QDir>

inline TestBbsOptions InboundBbsOptions() {
    TestBbsOptions o;
    o.installTosser = false;
    return o;
}

class InboundInstall {
public:
    InboundInstall() : install_(InboundBbsOptions()), previousDir_(QDir::currentPath()) {
        const TestBbsLayout& l = install_.Layout();
        bbs.paths.fields[0] = TextFromPath(l.mainDir);
        bbs.paths.fields[2] = TextFromPath(l.dataDir);
        bbs.paths.fields[6] = TextFromPath(l.tempDir);
        bbs.paths.fields[7] = TextFromPath(l.messageDir);
        EXPECT_EQ(ReadNetCfg(bbs), NetCfgResult::Ok);
        QDir::setCurrent(l.mainDir);
        log.SetSink([this](const Text& line) { window.append(line); });
        log.SetBoxSink([this](const Text& title, const Text& text) { boxes.append(title + ": " + text); });
        // No block-list zone outside this machine is ever asked.
        List("relaydb", "");
    }
    ~InboundInstall() { QDir::setCurrent(previousDir_); }

    void List(const Text& section, const Text& value) { PutData(section, value, ctx.KeyedList()); }
    // The handle index as daily maintenance builds it.
    void BuildHandleIndex() { CreateHandlesUIP(bbs, settings.AutorespondUser, ""); }
    Text LogFile() const { return ReadFileBytes(PathJoin(install_.Layout().mainDir, "OSPRINE.LOG")); }
    QString MainDir() const { return install_.Layout().mainDir; }
    // Event-window lines without their "hh:nn:ss : " time.
    TextList WindowTexts() const {
        TextList out;
        for (const Text& line : window) out.append(line.size() > 11 ? line.mid(11) : line);
        return out;
    }
    // Event-log file lines without their date, time and slot columns.
    TextList LogTexts(int16_t slot) const {
        TextList out;
        const Text column = StrPad(Text::number(slot), 6, " ", PadMode::Left);
        for (const Text& line : LogFile().split('\n')) {
            const Text l = line.endsWith('\r') ? line.chopped(1) : line;
            if (l.size() >= 32 && l.mid(24, 6) == column) out.append(l.mid(32));
        }
        return out;
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
    TextList window;
    TextList boxes;
};
