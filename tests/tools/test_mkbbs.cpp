// The installation builder's command line, as the demo script calls it.
#include "server/bbs/BbsConfig.h"
#include "server/store/Files.h"
#include "server/store/Settings.h"
#include "tools/testbbs/TosserInstall.h"

#include <gtest/gtest.h>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct MkBbs {
    int exitCode = -1;
    QByteArray out, err;
};

MkBbs RunMkBbs(const QStringList& args) {
    QProcess p;
    p.start(PathJoin(QFileInfo(FindTosserBinary({})).path(), "osprine-mkbbs"), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

}   // namespace

TEST(MkBbs, BuildsTheDemoInstallation) {
    QTemporaryDir base;
    const QString dir = PathJoin(base.path(), "demo");
    const MkBbs r = RunMkBbs({dir, "--port", "2525", "--users", "12", "--system-id", "bbs.example"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Created a test BBS in " + TextFromPath(dir) +
                                 ": 12 users, system id bbs.example, SMTP port 2525.\n"));
    SettingsRecord s;
    DecodeSettings(ReadFileBytes(PathJoin(dir, "OSPRINE.CFG")), s);
    EXPECT_EQ(s.Port, 2525);
    EXPECT_EQ(FileLength(PathJoin(dir, "DATA/USERFILE.DAT")), 14 * 1048);
    EXPECT_TRUE(QFileInfo(PathJoin(dir, "ZUUCP.EXE")).isExecutable());
    EXPECT_EQ(ReadFileBytes(PathJoin(dir, "DATA/NET.9")).left(21), "systemid=bbs.example\r");
}

TEST(MkBbs, ExplainsBadArguments) {
    QTemporaryDir base;
    const QString dir = PathJoin(base.path(), "x");
    const struct {
        QStringList args;
        QByteArray message;
    } cases[] = {
        {{}, "osprine-mkbbs: no directory given (osprine-mkbbs DIR [options])\n"},
        {{dir, "other"}, "osprine-mkbbs: give exactly one directory\n"},
        {{dir, "--users", "many"}, "osprine-mkbbs: --users needs a whole number, not \"many\"\n"},
        {{dir, "--users", "0"}, "osprine-mkbbs: the number of users must be from 1 to 200000\n"},
        {{dir, "--port", "70000"}, "osprine-mkbbs: the port must be from 1 to 32767\n"},
        {{dir, "--system-id", "two words"}, "osprine-mkbbs: the system id must be a domain name without spaces\n"},
        {{dir, "--colour"}, "osprine-mkbbs: Unknown option 'colour'.\n"},
    };
    for (const auto& c : cases) {
        const MkBbs r = RunMkBbs(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.err, c.message);
    }
    EXPECT_FALSE(QFileInfo::exists(dir));
}
