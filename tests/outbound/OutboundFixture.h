#pragma once
// A test BBS installation loaded into the records the outbound client works
// with, and helpers for its queue directory.
#include <gtest/gtest.h>
#include <QDir>
#include <QRegularExpression>
#include "server/bbs/ServerContext.h"
#include "server/store/Files.h"
#include "tests/support/TempBbs.h"

class OutboundBbs {
public:
    OutboundBbs() : bbs(WithoutTosser()), log(bbs.Dir(), settings.MaxLogSize), ctx{settings, config, stats, log, run} {
        EXPECT_TRUE(GetSysPathsCfg(config.paths, bbs.Path("SYSPATHS.CFG")));
        EXPECT_TRUE(GetMainCfg(config.main, config.MainDir()));
        EXPECT_EQ(ReadNetCfg(config), NetCfgResult::Ok);
        log.SetSink([this](const Text& line) { events.append(line); });
        run.ServerState = ServerPhase::Online;
    }

    // Without a loaded installation the queue paths would be relative ones,
    // in the working directory: test fixtures stop in SetUp then.
    bool Ready() const { return !Queue().isEmpty() && QFileInfo(Queue()).isDir(); }

    QString Queue() const { return config.QueueDir(); }
    QString QueuePath(const QString& name) const { return PathJoin(Queue(), name); }
    void Put(const QString& name, const Text& text) const { ASSERT_TRUE(WriteFileAtomic(QueuePath(name), text)); }
    Text Get(const QString& name) const { return ReadFileBytes(QueuePath(name)); }
    bool Has(const QString& name) const { return QFileInfo::exists(QueuePath(name)); }
    QStringList Files() const { return QDir(Queue()).entryList(QDir::Files, QDir::Name); }

    // Event-window lines without their "hh:nn:ss : " time.
    TextList Events() const {
        static const QRegularExpression time("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9] : ");
        TextList out;
        for (const Text& line : events) {
            EXPECT_TRUE(time.match(QString::fromLatin1(line)).hasMatch()) << line.constData();
            out.append(line.mid(11));
        }
        return out;
    }

    // The texts of the event log's lines for socket `slot`, each line checked
    // for its date, time and socket columns.
    TextList LogTexts(int slot = 0) const {
        static const QRegularExpression row("^[A-Z][a-z]{2} \\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} +(\\d+)  (.*)$");
        const TextList lines = Explode(CRLF, ReadFileBytes(bbs.Path("OSPRINE.LOG")));
        TextList out;
        for (qsizetype i = 4; i < lines.size(); ++i) {   // after the four heading lines
            if (lines[i].isEmpty()) continue;
            const QRegularExpressionMatch m = row.match(QString::fromLatin1(lines[i]));
            EXPECT_TRUE(m.hasMatch()) << lines[i].constData();
            if (m.hasMatch() && m.captured(1).toInt() == slot) out.append(m.captured(2).toLatin1());
        }
        return out;
    }

    // Outbound delivery never starts the tosser.
    static TestBbsOptions WithoutTosser() {
        TestBbsOptions o;
        o.installTosser = false;
        return o;
    }

    TempBbs bbs;
    SettingsRecord settings;
    BbsConfig config;
    Statistics stats;
    RunState run;
    EventLog log;
    ServerContext ctx;
    TextList events;
};

// A plain queued message as the BBS writes it. Its sender is outside the BBS,
// so that a return notice for it is queued rather than filed in the BBS.
inline constexpr const char* kRemoteSender = "writer@elsewhere.example";
inline Text QueuedMessage(const Text& to, const Text& body, const Text& extraHeaders = {}) {
    return "From: Writer <writer@elsewhere.example>\r\nTo: " + to + "\r\nSubject: Test\r\n" + extraHeaders +
           "Date: Tue, 11 Jul 2006 19:35:37 -0500\r\n\r\n" + body;
}
