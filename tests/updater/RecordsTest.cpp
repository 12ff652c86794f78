// The files the update checker shares with the BBS and the server, its
// command line and its error log line.
#include <QFile>
#include "tests/updater/UpdaterFixture.h"
#include "updater/BbsFiles.h"
#include "updater/CommandLine.h"
#include "updater/ErrorLog.h"
#include "updater/StartUp.h"
#include "updater/VersionRecord.h"

TEST(VersionRecord, OwnVersionGoesAtOffsetSixAndTheDateAtZero) {
    UpdaterBbs bbs;
    bbs.SetVersion(36, "1.4.060711");   // the server's field
    ASSERT_TRUE(WriteOwnVersion(bbs.Dir()));
    ASSERT_TRUE(WriteCheckDate(bbs.Dir(), QDate(2026, 12, 7)));
    const Text expected = Text("261207") + Text("1.5.060711").leftJustified(15, ' ') + Text(15, ' ') +
                          Text("1.4.060711").leftJustified(15, ' ') + Text(45, ' ');
    EXPECT_EQ(bbs.VersionRecord(), expected);
}

TEST(VersionRecord, MissingOrShortFileIsCreatedPaddedWithSpaces) {
    UpdaterBbs bbs;
    ASSERT_TRUE(WriteOwnVersion(bbs.Dir()));
    EXPECT_EQ(bbs.VersionRecord(), Text(6, ' ') + Text("1.5.060711").leftJustified(90, ' '));

    QFile shortFile(bbs.Path("ZRVDATA.DAT"));
    ASSERT_TRUE(shortFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
    shortFile.write("0601");
    shortFile.close();
    ASSERT_TRUE(WriteCheckDate(bbs.Dir(), QDate(2007, 1, 2)));
    EXPECT_EQ(bbs.VersionRecord(), Text("070102").leftJustified(96, ' '));
}

TEST(VersionRecord, InstalledBuildIsTheLastSixCharactersAsANumber) {
    UpdaterBbs bbs;
    bbs.SetVersion(36, "1.4.060711");
    bbs.SetVersion(21, "3.1.051224   ");
    bbs.SetVersion(81, "beta");
    const Text record = ReadVersionRecord(bbs.Dir());
    EXPECT_EQ(InstalledBuild(record, 36), 60711);
    EXPECT_EQ(InstalledBuild(record, 21), 51224);
    EXPECT_EQ(InstalledBuild(record, 81), 0);
    EXPECT_EQ(InstalledBuild(record, 51), 0);   // blank field
    EXPECT_EQ(VersionFieldOffset("zpurgedb"), 81);
    EXPECT_EQ(VersionFieldOffset(" ZrvUpdate "), 6);
    EXPECT_FALSE(VersionFieldOffset("ZRV"));
}

TEST(BbsFiles, MainDirectoryComesFromSysPaths) {
    UpdaterBbs bbs;
    EXPECT_EQ(ReadMainDirectory(bbs.Dir()), bbs.Dir());
    QTemporaryDir empty;
    EXPECT_FALSE(ReadMainDirectory(empty.path()));
}

TEST(BbsFiles, UpdateTypeIsTheSigned16BitFieldAtOffset132) {
    UpdaterBbs bbs;
    EXPECT_EQ(ReadUpdateTypeSetting(bbs.Dir()), 0);   // no ZARVEL.CFG
    bbs.SetUpdateTypeSetting(2);
    EXPECT_EQ(ReadUpdateTypeSetting(bbs.Dir()), 2);
    bbs.SetUpdateTypeSetting(-2);
    EXPECT_EQ(ReadUpdateTypeSetting(bbs.Dir()), -2);
    bbs.SetUpdateTypeSetting(0x0101);
    EXPECT_EQ(ReadUpdateTypeSetting(bbs.Dir()), 257);

    QFile cut(bbs.Path("ZARVEL.CFG"));
    ASSERT_TRUE(cut.resize(133));
    EXPECT_EQ(ReadUpdateTypeSetting(bbs.Dir()), 0);
}

TEST(BbsFiles, ProgramFilesAreFoundWithoutRegardToCase) {
    UpdaterBbs bbs;
    bbs.Install("zarvel.exe");
    EXPECT_EQ(FindFileNoCase(bbs.Dir(), "ZARVEL.EXE"), bbs.Path("zarvel.exe"));
    EXPECT_EQ(FindFileNoCase(bbs.Dir(), "ZPOST.EXE"), QString());
}

TEST(CommandLine, OptionsAreFoundWithoutRegardToCase) {
    const QStringList args{"/type=2", "/QUIET", "/Other = x "};
    EXPECT_EQ(GetCommandLine(args, "/TYPE"), "2");
    EXPECT_EQ(GetCommandLine(args, "/quiet"), "1");
    EXPECT_EQ(GetCommandLine(args, "/MISSING"), "");
    EXPECT_EQ(GetCommandLine({" /TYPE=3 "}, "/TYPE"), "3");
    EXPECT_EQ(GetCommandLine({"/TYPE=", "3"}, "/TYPE"), "");       // a value never follows a space
    EXPECT_EQ(GetCommandLine({"/QUIET /TYPE=1"}, "/TYPE"), "1");   // one argument holding two options

    const StartOptions lower = ReadStartOptions({"/type=2"});
    EXPECT_EQ(lower.typeOption, 2);
    EXPECT_FALSE(lower.quiet);
    EXPECT_TRUE(ReadStartOptions({"/quiet"}).quiet);
    EXPECT_FALSE(ReadStartOptions({"/QUIET=0"}).quiet);
    EXPECT_EQ(ReadStartOptions({"/TYPE=x"}).typeOption, 0);
    EXPECT_EQ(LeadingNumber(" 42abc"), 42);
    EXPECT_EQ(LeadingNumber("-7"), -7);
}

TEST(StartUp, UpdateTypeFromOptionThenSettingThenOfficial) {
    UpdaterBbs bbs;
    EXPECT_EQ(ResolveUpdateType({false, 0}, bbs.Dir()), 3);
    bbs.SetUpdateTypeSetting(1);
    EXPECT_EQ(ResolveUpdateType({false, 0}, bbs.Dir()), 1);
    EXPECT_EQ(ResolveUpdateType({false, 2}, bbs.Dir()), 2);
    EXPECT_EQ(ResolveUpdateType({false, 9}, bbs.Dir()), 3);
    bbs.SetUpdateTypeSetting(7);
    EXPECT_EQ(ResolveUpdateType({false, 0}, bbs.Dir()), 3);
}

TEST(ErrorLog, LineFormat) {
    const QDateTime when(QDate(2006, 7, 11), QTime(19, 5, 7));
    EXPECT_EQ(ErrorLogLine(when, " ZRVUpdate ", " CheckUpdate", "1.5.060711", "modZRVUpdate ", "Bad entry  "),
              "Tue 2006-07-11 19:05:07 ZRVUpdate v1.5.060711  modZRVUpdate CheckUpdate - Bad entry\r\n");
}

TEST(ErrorLog, AppendsToTheFileInTheCurrentDirectory) {
    UpdaterBbs bbs;
    CurrentDirectory here(bbs.Dir());
    LogError("GetUpdateInfo", kZrvVersion, kModZRVUpdate, "first");
    LogError("cmdOk_Click", kZrvVersion, kFrmMain, "second");
    const QList<Text> lines = bbs.ErrorLog().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].endsWith(" v1.5.060711  modZRVUpdate GetUpdateInfo - first\r")) << lines[0].constData();
    EXPECT_TRUE(lines[1].endsWith(" v1.5.060711  frmMain cmdOk_Click - second\r")) << lines[1].constData();
}
