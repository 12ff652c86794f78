#include "server/shell/Configuration.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"
#include "tests/support/TempBbs.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include <QtEndian>

namespace {
TestBbsOptions NoSettings() {
    TestBbsOptions o;
    o.installTosser = false;
    o.writeSettings = false;
    return o;
}

// A test installation with the server's records, started from its main
// directory as the server is; the working directory is restored afterwards.
class LoadCfgTest : public ::testing::Test {
protected:
    LoadCfgTest() : previous_(QDir::currentPath()) { QDir::setCurrent(install.Layout().mainDir); }
    ~LoadCfgTest() override { QDir::setCurrent(previous_); }
    QString Main(const QString& name) const { return PathJoin(install.Layout().mainDir, name); }
    LoadCfgResult Load() { return LoadSettings(settings, bbs, log); }
    // A settings file of `length` bytes: the new-file record, cut or extended.
    void WriteSettings(int length, SettingsRecord r = {}) {
        Text bytes = EncodeSettings(r);
        bytes = length <= bytes.size() ? bytes.left(length) : bytes + Text(length - bytes.size(), 'x');
        ASSERT_TRUE(WriteFileAtomic(Main("OSPRINE.CFG"), bytes));
    }

    TempBbs install{NoSettings()};
    SettingsRecord settings;
    BbsConfig bbs;
    int32_t maxLog = 0;
    EventLog log{install.Layout().mainDir, maxLog};

private:
    QString previous_;
};

const Text kDefaultRelayLine = Text("relaydb=") + kDefaultRelayDb + "\r\n";
}   // namespace

TEST_F(LoadCfgTest, AFreshInstallationGetsTheNewFileRecordAndTheZones) {
    ASSERT_EQ(Load(), LoadCfgResult::Ok);
    EXPECT_EQ(ReadFileBytes(Main("OSPRINE.CFG")), EncodeSettings(SettingsRecord{}));
    EXPECT_EQ(ReadFileBytes(Main("OSPRDATA.DAT")), kDefaultRelayLine);
    EXPECT_EQ(settings.SmtpClient, 1);
    EXPECT_EQ(QDir::currentPath(), QDir(install.Layout().mainDir).canonicalPath());
}

TEST_F(LoadCfgTest, AFileWithoutTheRelaySwitchGetsTheDefaultZonesAgain) {
    SettingsRecord stored;
    stored.RelayEnable = 1;
    stored.SmtpClient = 1;
    WriteSettings(221, stored);
    ASSERT_TRUE(WriteFileAtomic(Main("OSPRDATA.DAT"), "aliases=a,1\r\nrelaydb=my.zone\r\n\r\n"));
    ASSERT_EQ(Load(), LoadCfgResult::Ok);
    EXPECT_EQ(settings.RelayEnable, 0);   // its last byte was missing
    EXPECT_EQ(settings.SmtpClient, 1);    // complete in the file
    EXPECT_EQ(ReadFileBytes(Main("OSPRDATA.DAT")), "aliases=a,1\r\n" + kDefaultRelayLine + "\r\n");
    const Text cfg = ReadFileBytes(Main("OSPRINE.CFG"));
    ASSERT_EQ(cfg.size(), 250);
    EXPECT_EQ(qFromLittleEndian<int16_t>(cfg.constData() + 220), 0);
    EXPECT_EQ(qFromLittleEndian<int16_t>(cfg.constData() + 224), 110);   // Pop3Port's upgrade value
}

TEST_F(LoadCfgTest, FromTheRelaySwitchOnTheZonesAreKept) {
    SettingsRecord stored;
    stored.RelayEnable = 1;
    stored.SpamAssassin = 1;
    WriteSettings(223, stored);
    ASSERT_TRUE(WriteFileAtomic(Main("OSPRDATA.DAT"), "relaydb=my.zone\r\n"));
    ASSERT_EQ(Load(), LoadCfgResult::Ok);
    EXPECT_EQ(settings.RelayEnable, 1);
    EXPECT_EQ(settings.SpamAssassin, 0);   // the first incomplete field
    EXPECT_EQ(ReadFileBytes(Main("OSPRDATA.DAT")), "relaydb=my.zone\r\n");
    EXPECT_EQ(FileLength(Main("OSPRINE.CFG")), 250);
}

TEST_F(LoadCfgTest, AFullFileIsReadAsItIsAndRangeChecksAreNotWritten) {
    SettingsRecord stored;
    stored.MaxMailSize = 16777216;
    stored.MaxConnections = 500;
    stored.MaxLogSize = 500;
    WriteSettings(300, stored);
    const Text before = ReadFileBytes(Main("OSPRINE.CFG"));
    ASSERT_EQ(Load(), LoadCfgResult::Ok);
    EXPECT_EQ(settings.MaxMailSize, 10485760);
    EXPECT_EQ(settings.MaxConnections, 200);
    EXPECT_EQ(settings.MaxLogSize, 1024);
    EXPECT_EQ(ReadFileBytes(Main("OSPRINE.CFG")), before);
    EXPECT_FALSE(QFile::exists(Main("OSPRDATA.DAT")));
}

TEST_F(LoadCfgTest, AMissingInstallationIsNamedInTheMessages) {
    QTemporaryDir elsewhere;
    QDir::setCurrent(elsewhere.path());
    EXPECT_EQ(Load(), LoadCfgResult::NoSysPaths);
    EXPECT_EQ(LoadCfgMessage(LoadCfgResult::NoSysPaths, bbs),
              "Cannot find SYSPATHS.CFG! Make sure OSPRINE.EXE is in your ZARV main directory.");

    SysPathsRecord paths;
    paths.fields[0] = TextFromPath(elsewhere.path()) + "/gone";
    ASSERT_TRUE(WriteFileAtomic(PathJoin(elsewhere.path(), "SYSPATHS.CFG"), EncodeSysPaths(paths)));
    EXPECT_EQ(Load(), LoadCfgResult::InvalidMainDir);
    EXPECT_EQ(LoadCfgMessage(LoadCfgResult::InvalidMainDir, bbs),
              TextFromPath(elsewhere.path()) + "/gone is an invalid directory! Check your path settings in ZConfig.");

    paths.fields[0] = TextFromPath(elsewhere.path());
    ASSERT_TRUE(WriteFileAtomic(PathJoin(elsewhere.path(), "SYSPATHS.CFG"), EncodeSysPaths(paths)));
    EXPECT_EQ(Load(), LoadCfgResult::NoMainCfg);
    EXPECT_EQ(LoadCfgMessage(LoadCfgResult::NoMainCfg, bbs),
              "Cannot find " + TextFromPath(elsewhere.path()) + "/MAIN.CFG! Check your path settings in ZConfig.");
    EXPECT_FALSE(QFile::exists(PathJoin(elsewhere.path(), "OSPRINE.CFG")));   // nothing is written
}

TEST(WriteVersionRecord, OnlyTheServersFieldChanges) {
    QTemporaryDir dir;
    const QString file = PathJoin(dir.path(), "ZRVDATA.DAT");
    ASSERT_TRUE(WriteVersionRecord(dir.path()));
    EXPECT_EQ(ReadFileBytes(file), Text(36, ' ') + "1.4.060711     " + Text(45, ' '));

    Text record;
    for (int i = 0; i < 96; ++i) record.append(char('A' + i % 26));
    ASSERT_TRUE(WriteFileAtomic(file, record));
    ASSERT_TRUE(WriteVersionRecord(dir.path()));
    const Text after = ReadFileBytes(file);
    ASSERT_EQ(after.size(), 96);
    EXPECT_EQ(after.left(36), record.left(36));
    EXPECT_EQ(after.mid(36, 15), "1.4.060711     ");
    EXPECT_EQ(after.mid(51), record.mid(51));
}

TEST_F(LoadCfgTest, APathFileThatCannotBeReadIsNamedAndChangesNothing) {
    ASSERT_EQ(Load(), LoadCfgResult::Ok);
    const Text mainDir = bbs.paths.MainDir();
    // A path file that exists but gives a read error (root reads any plain
    // file, so the fault is staged with a link to a file the kernel refuses
    // to read from its start).
    const QString sysPaths = Main("SYSPATHS.CFG");
    ASSERT_TRUE(QFile::remove(sysPaths));
    ASSERT_TRUE(QFile::link("/proc/self/mem", sysPaths));
    Text problem;
    EXPECT_EQ(LoadSettings(settings, bbs, log, &problem), LoadCfgResult::ReadError);
    EXPECT_EQ(bbs.paths.MainDir(), mainDir);
    EXPECT_EQ(problem, "Cannot read " + TextFromPath(QFileInfo(sysPaths).absoluteFilePath()) + ": Input/output error");

    // A first start with such a file takes no main directory from it either.
    SysPathsRecord none;
    bbs.paths = none;
    EXPECT_EQ(Load(), LoadCfgResult::ReadError);
    EXPECT_TRUE(bbs.paths.MainDir().isEmpty());
}
