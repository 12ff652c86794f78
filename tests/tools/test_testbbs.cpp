// The files of a test installation, read back by the server's own readers
// and at explicit offsets.
#include "server/bbs/BbsConfig.h"
#include "server/bbs/UserRecord.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"
#include "server/store/Settings.h"
#include "tests/support/TempBbs.h"
#include "tools/testbbs/DemoUsers.h"
#include "tools/testbbs/FileAreas.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

Text Bytes(const QString& path) { return ReadFileBytes(path); }
int16_t Int16At(const Text& b, int offset) { return qFromLittleEndian<int16_t>(b.constData() + offset); }
Text Padded(const QString& path, int width) { return StrPad(TextFromPath(path), width); }

BbsConfig ConfigOf(const TempBbs& bbs) {
    BbsConfig c;
    EXPECT_TRUE(GetSysPathsCfg(c.paths, bbs.Path("SYSPATHS.CFG")));
    return c;
}

Text UserRecordAt(const Text& file, int number) { return file.mid((number - 1) * kUserRecordSize, kUserRecordSize); }

}   // namespace

TEST(TestBbs, SystemPathsHoldTheFourDirectoriesAtTheirOffsets) {
    TempBbs bbs;
    const TestBbsLayout& l = bbs.Layout();
    const Text raw = Bytes(bbs.Path("SYSPATHS.CFG"));
    ASSERT_EQ(raw.size(), kSysPathsRecordSize);
    EXPECT_EQ(raw.mid(0, 40), Padded(l.mainDir, 40));
    EXPECT_EQ(raw.mid(80, 40), Padded(l.dataDir, 40));
    EXPECT_EQ(raw.mid(240, 40), Padded(l.tempDir, 40));
    EXPECT_EQ(raw.mid(280, 40), Padded(l.messageDir, 40));
    EXPECT_EQ(raw.mid(40, 40), Text(40, ' '));

    const BbsConfig c = ConfigOf(bbs);
    EXPECT_EQ(c.MainDir(), QDir(bbs.Dir()).absolutePath());
    EXPECT_EQ(c.DataDir(), l.dataDir);
    EXPECT_EQ(c.TempDir(), l.tempDir);
    EXPECT_EQ(c.MessageDir(), l.messageDir);
    for (const QString& d : {l.dataDir, l.tempDir, l.messageDir, l.spoolTmpDir, l.queueDir, l.net4Dir})
        EXPECT_TRUE(QFileInfo(d).isDir()) << d.toStdString();
}

TEST(TestBbs, MainConfigurationNamesTheBbs) {
    TestBbsOptions o;
    o.bbsName = "Night Shift BBS";
    TempBbs bbs(o);
    const Text raw = Bytes(bbs.Path("MAIN.CFG"));
    ASSERT_EQ(raw.size(), kMainCfgRecordSize);
    EXPECT_EQ(raw, StrPad("Night Shift BBS", 40) + Text(kMainCfgRecordSize - 40, ' '));
    MainCfgRecord main;
    ASSERT_TRUE(GetMainCfg(main, bbs.Dir()));
    EXPECT_EQ(main.BbsName, "Night Shift BBS");
}

TEST(TestBbs, UserFileHoldsTheCastWithDeletedAndLevelZeroRecords) {
    TempBbs bbs;
    const Text file = Bytes(PathJoin(bbs.Layout().dataDir, "USERFILE.DAT"));
    ASSERT_EQ(file.size(), 14 * kUserRecordSize);   // 12 listed users, a deleted and a level-0 record

    const Text sysop = UserRecordAt(file, 1);
    EXPECT_EQ(sysop.mid(0, 40), StrPad("Sysop", 40));
    EXPECT_EQ(sysop.mid(343, 26), StrPad("ABCDEFGHIJKLMNOPQRSTUVWXYZ", 26));
    EXPECT_EQ(Int16At(sysop, 373), 255);

    const Text john = UserRecordAt(file, 2);
    EXPECT_EQ(john.mid(0, 40), StrPad("John Smith", 40));
    EXPECT_EQ(john.mid(343, 26), StrPad("AI", 26));
    EXPECT_EQ(Int16At(john, 373), 100);

    const UserRecord deleted = UserRecord::Decode(UserRecordAt(file, 5));
    EXPECT_TRUE(deleted.Handle().isEmpty());
    EXPECT_FALSE(deleted.IsListed());
    const UserRecord locked = UserRecord::Decode(UserRecordAt(file, 8));
    EXPECT_EQ(locked.Handle(), "Locked Out");
    EXPECT_EQ(locked.SecurityLevel(), 0);
    const UserRecord noFlag = UserRecord::Decode(UserRecordAt(file, 6));
    EXPECT_EQ(noFlag.Handle(), "Ann Lee");
    EXPECT_FALSE(noFlag.AccessFlags().contains('I'));

    int listed = 0;
    for (int n = 1; n <= 14; ++n) listed += UserRecord::Decode(UserRecordAt(file, n)).IsListed() ? 1 : 0;
    EXPECT_EQ(listed, 12);
}

TEST(TestBbs, SmallAndLargeUserCountsKeepTheSpecialRecords) {
    const QList<DemoUser> two = DemoUsers(2);
    ASSERT_EQ(two.size(), 4);
    EXPECT_EQ(two[0].handle, "Sysop");
    EXPECT_EQ(two[1].handle, "John Smith");
    EXPECT_TRUE(two[2].handle.isEmpty());   // deleted
    EXPECT_EQ(two[3].securityLevel, 0);     // level 0
    for (int i = 0; i < two.size(); ++i) EXPECT_EQ(two[i].number, i + 1);

    const QList<DemoUser> many = DemoUsers(20);
    ASSERT_EQ(many.size(), 22);
    EXPECT_EQ(many[13].handle, "Help Desk");
    EXPECT_EQ(many[14].handle, "User 15");
    EXPECT_EQ(many[21].handle, "User 22");
}

TEST(TestBbs, FiftyThousandUsersAreWritten) {
    TestBbsOptions o;
    o.users = 50000;
    TempBbs bbs(o);
    const Text file = Bytes(PathJoin(bbs.Layout().dataDir, "USERFILE.DAT"));
    ASSERT_EQ(file.size(), qsizetype(50002) * kUserRecordSize);
    EXPECT_EQ(UserRecord::Decode(UserRecordAt(file, 50002)).Handle(), "User 50002");
    EXPECT_EQ(UserRecord::Decode(UserRecordAt(file, 50002)).SecurityLevel(), 10);
}

TEST(TestBbs, NetworkFilesAnswerTheServersQuestions) {
    TestBbsOptions o;
    o.systemId = "mail.test";
    TempBbs bbs(o);
    const TestBbsLayout& l = bbs.Layout();
    BbsConfig c = ConfigOf(bbs);
    EXPECT_EQ(GetSystemId(c), "mail.test");
    EXPECT_EQ(GetNetEntry(c, 9, "NETDIR"), TextFromPath(l.spoolDir));
    EXPECT_EQ(GetNetEntry(c, 1, "SYSTEMID"), "1");
    EXPECT_EQ(GetNetEntry(c, 4, "NETDIR"), TextFromPath(l.net4Dir));
    EXPECT_TRUE(QFileInfo::exists(PathJoin(l.net4Dir, "MAGIC.FID")));

    ASSERT_EQ(ReadNetCfg(c), NetCfgResult::Ok);
    EXPECT_EQ(c.systemId, "mail.test");
    EXPECT_EQ(c.QueueDir(), l.queueDir);   // from the REMOTE line, not the fallback
    EXPECT_EQ(c.SpoolTmpDir(), l.spoolTmpDir);

    EXPECT_EQ(Bytes(PathJoin(l.dataDir, "NET.9")),
              "systemid=mail.test\r\nnetdir=" + TextFromPath(l.spoolDir) +
                  "\r\npss=7\r\nallowrefeed=N\r\nstriphdrs=N\r\nsuffix=\r\nremote=UPSTREAM - " +
                  TextFromPath(l.queueDir) + ";" + TextFromPath(PathJoin(l.mainDir, "NEWSOUT")) +
                  " - - - - mail.test NNXXXXXX -\r\n");
    EXPECT_EQ(Bytes(PathJoin(l.dataDir, "NETWORKS.LST")),
              "1,ZarvelNet,ZNET,-\r\n4,FidoNet,FIDO,F\r\n9,Internet,INET,I\r\n");
}

TEST(TestBbs, ListFilesNameMembersAndAutoResponders) {
    TempBbs bbs;
    EXPECT_EQ(Bytes(PathJoin(bbs.Layout().spoolDir, "LISTSERV.LST")),
              "DEMO-LIST sysop@bbs.example john.smith@bbs.example mary.jones@bbs.example darkstar@bbs.example\r\n"
              "NEWS-R sysop@bbs.example night.owl@bbs.example\r\n");
    EXPECT_EQ(Bytes(bbs.Path("AUTORESP.CFG")), "info,Information about this BBS\r\nrules,The rules of this BBS\r\n");
}

TEST(TestBbs, FileAreasAndMagicNames) {
    TempBbs bbs;
    const TestBbsLayout& l = bbs.Layout();
    const Text db = Bytes(bbs.Path("DATABASE.CFG"));
    ASSERT_EQ(db.size(), 2 * kFileAreaRecordSize);
    const Text open = db.left(kFileAreaRecordSize), closed = db.mid(kFileAreaRecordSize);
    EXPECT_EQ(open.mid(0, 8), "GENERAL ");
    EXPECT_EQ(open.mid(8, 32), Padded(l.fileAreaDir, 32));
    EXPECT_EQ(Int16At(open, 99), 1);
    EXPECT_EQ(Int16At(open, 72), 0);
    EXPECT_EQ(closed.mid(8, 32), Padded(l.closedAreaDir, 32));
    EXPECT_EQ(Int16At(closed, 99), 0);
    EXPECT_TRUE(QFileInfo::exists(PathJoin(l.fileAreaDir, "README.TXT")));
    EXPECT_EQ(FileLength(PathJoin(l.fileAreaDir, "DEMO.ZIP")), 3000);
    EXPECT_TRUE(QFileInfo::exists(PathJoin(l.closedAreaDir, "SECRET.TXT")));

    const Text magic = Bytes(PathJoin(l.net4Dir, "MAGIC.FID"));
    EXPECT_EQ(magic, "FILES " + TextFromPath(PathJoin(l.fileAreaDir, "ALLFILES.TXT")) + "\r\nABOUT " +
                         TextFromPath(PathJoin(l.net4Dir, "ABOUT.TXT")) + "\r\n");
    EXPECT_TRUE(QFileInfo::exists(PathJoin(l.net4Dir, "ABOUT.TXT")));
}

TEST(TestBbs, ServerSettingsCarryThePortAndTheFirstStartDefaults) {
    TestBbsOptions o;
    o.port = 3025;
    TempBbs bbs(o);
    const Text raw = Bytes(bbs.Path("OSPRINE.CFG"));
    ASSERT_EQ(raw.size(), kSettingsRecordSize);
    EXPECT_EQ(Int16At(raw, 0), 3025);
    SettingsRecord s;
    DecodeSettings(raw, s);
    EXPECT_EQ(s.Port, 3025);
    EXPECT_EQ(s.MaxConnections, 10);
    EXPECT_EQ(s.SmtpClient, 1);
    EXPECT_EQ(GetData("relaydb", bbs.Path("OSPRDATA.DAT")), kDefaultRelayDb);

    TestBbsOptions without;
    without.writeSettings = false;
    TempBbs bare(without);
    EXPECT_FALSE(QFileInfo::exists(bare.Path("OSPRINE.CFG")));
}

TEST(TestBbs, TheTosserIsInstalledAsAnExecutable) {
    TempBbs bbs;
    const QFileInfo tosser(bbs.Path("ZUUCP.EXE"));
    EXPECT_TRUE(tosser.isFile());
    EXPECT_TRUE(tosser.isExecutable());

    TestBbsOptions o;
    o.tosserPath = "/nonexistent/ZUUCP.EXE";
    QTemporaryDir dir;
    QString error;
    CreateTestBbs(dir.path(), o, &error);
    EXPECT_TRUE(error.contains("/nonexistent/ZUUCP.EXE")) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(PathJoin(dir.path(), "SYSPATHS.CFG")));   // not taken for a finished installation
}

TEST(TestBbs, RefusesBadOptionsAndAnExistingInstallation) {
    QTemporaryDir dir;
    QString error;
    auto refused = [&](TestBbsOptions o) {
        error.clear();
        CreateTestBbs(dir.path(), o, &error);
        return !error.isEmpty();
    };
    TestBbsOptions o;
    o.users = 0;
    EXPECT_TRUE(refused(o));
    o = {};
    o.port = 0;
    EXPECT_TRUE(refused(o));
    o = {};
    o.systemId = "bad id";
    EXPECT_TRUE(refused(o));
    EXPECT_FALSE(QFileInfo::exists(PathJoin(dir.path(), "DATA")));

    EXPECT_FALSE(refused({}));
    EXPECT_TRUE(refused({}));
    EXPECT_TRUE(error.contains("already holds a BBS installation"));
}

TEST(TestBbs, DeepDirectoriesAreStoredRelativeToTheMainDirectory) {
    QTemporaryDir base;
    const QString deep = PathJoin(base.path(), "a-directory-name-long-enough/to-overflow-the-fields");
    QString error;
    const TestBbsLayout l = CreateTestBbs(deep, {}, &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    const Text raw = Bytes(PathJoin(deep, "SYSPATHS.CFG"));
    EXPECT_EQ(raw.mid(0, 40), StrPad(".", 40));
    EXPECT_EQ(raw.mid(80, 40), StrPad("DATA", 40));
    EXPECT_EQ(raw.mid(280, 40), StrPad("MSGS", 40));
    EXPECT_EQ(Bytes(PathJoin(deep, "DATABASE.CFG")).mid(8, 32), StrPad("FILES", 32));
    EXPECT_EQ(l.dataDir, PathJoin(QDir(deep).absolutePath(), "DATA"));
}
