#include "server/bbs/BbsConfig.h"
#include "server/store/Files.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QTemporaryDir>

namespace {
// A data directory with NET files and a spool; the paths record points at it.
struct NetFixture {
    QTemporaryDir root;
    BbsConfig bbs;
    NetFixture() {
        QDir(root.path()).mkpath("DATA");
        QDir(root.path()).mkpath("SPOOL");
        QDir(root.path()).mkpath("TEMP");
        QDir(root.path()).mkpath("OUT");
        bbs.paths.fields[0] = TextFromPath(root.path());
        bbs.paths.fields[2] = TextFromPath(root.filePath("DATA"));
        bbs.paths.fields[6] = TextFromPath(root.filePath("TEMP"));
    }
    void Net(int n, const Text& content) {
        ASSERT_TRUE(WriteFileAtomic(root.filePath("DATA/NET." + QString::number(n)), content));
    }
};
}   // namespace

TEST(SysPaths, TenFortyByteFieldsTrimmed) {
    SysPathsRecord r;
    r.fields[0] = "/bbs";
    r.fields[2] = "/bbs/data";
    r.fields[7] = "/bbs/msgs";
    const Text bytes = EncodeSysPaths(r);
    ASSERT_EQ(bytes.size(), kSysPathsRecordSize);
    EXPECT_EQ(bytes.mid(80, 40), StrPad("/bbs/data", 40));
    const SysPathsRecord back = DecodeSysPaths(bytes);
    EXPECT_EQ(back.MessageDir(), "/bbs/msgs");
    EXPECT_EQ(back.TempDir(), "");
    const Text main = EncodeMainCfg({"My BBS"});
    ASSERT_EQ(main.size(), kMainCfgRecordSize);
    EXPECT_EQ(DecodeMainCfg(main).BbsName, "My BBS");
}

TEST(NetEntry, KeysIgnoreCaseAndSpaces) {
    NetFixture f;
    f.Net(9, " systemid =  bbs.example  \r\nNETDIR=x\r\n");
    EXPECT_EQ(GetNetEntry(f.bbs, 9, "SYSTEMID"), "bbs.example");
    EXPECT_EQ(GetNetEntry(f.bbs, 9, "netdir"), "x");
    EXPECT_EQ(GetNetEntry(f.bbs, 0, "SYSTEMID"), "");
    EXPECT_EQ(GetNetEntry(f.bbs, 9, "  "), "");
    EXPECT_EQ(GetNetEntry(f.bbs, 3, "SYSTEMID"), "");
}

TEST(LoadNetCfg, QueueDirectoryFromTheLastRemoteLine) {
    NetFixture f;
    const Text spool = TextFromPath(f.root.filePath("SPOOL"));
    const Text out = TextFromPath(f.root.filePath("OUT"));
    f.Net(9, "SYSTEMID=bbs.example\r\nNETDIR=" + spool + "\r\nREMOTE=a b /nowhere;x\r\nREMOTE=a b " + LCase(out) +
                 "\\\\;more c d\r\nunknown=1\r\n");
    ASSERT_EQ(ReadNetCfg(f.bbs), NetCfgResult::Ok);
    EXPECT_EQ(f.bbs.systemId, "bbs.example");
    EXPECT_EQ(f.bbs.spoolDir, UCase(spool));
    EXPECT_EQ(f.bbs.queueDir, UCase(out));
    EXPECT_EQ(f.bbs.QueueDir(), f.root.filePath("OUT"));   // found on disk whatever its case
    EXPECT_TRUE(QDir(f.root.filePath("SPOOL/TMP")).exists());
}

TEST(LoadNetCfg, ShortRemoteFallsBackToTheTemporaryDirectory) {
    NetFixture f;
    f.Net(9, "SYSTEMID=bbs.example\r\nNETDIR=" + TextFromPath(f.root.filePath("SPOOL")) + "\r\nREMOTE=a b\r\n");
    ASSERT_EQ(ReadNetCfg(f.bbs), NetCfgResult::Ok);
    EXPECT_EQ(f.bbs.QueueDir(), f.root.filePath("TEMP"));
}

TEST(LoadNetCfg, FatalProblemsAndTheirMessages) {
    NetFixture f;
    EXPECT_EQ(ReadNetCfg(f.bbs), NetCfgResult::MissingNet9);
    f.Net(9, "SYSTEMID\r\nNETDIR=/nowhere/at/all\r\n");
    EXPECT_EQ(ReadNetCfg(f.bbs), NetCfgResult::MissingSystemId);
    EXPECT_EQ(NetCfgMessage(NetCfgResult::MissingSystemId, f.bbs),
              "Invalid (missing) Internet system id. Check your configuration.");
    f.Net(9, "SYSTEMID=x\r\nNETDIR=/nowhere/at/all\r\n");
    EXPECT_EQ(ReadNetCfg(f.bbs), NetCfgResult::InvalidSpoolDir);
    EXPECT_EQ(NetCfgMessage(NetCfgResult::InvalidSpoolDir, f.bbs),
              "/NOWHERE/AT/ALL is an invalid directory! Check your Internet configuration.");
}

TEST(LoadNetCfg, AReloadKeepsValuesTheFileNoLongerHolds) {
    NetFixture f;
    const Text spool = TextFromPath(f.root.filePath("SPOOL"));
    QDir(f.root.path()).mkpath("SPOOL/tmp");   // an existing TMP in another case is used as it is
    f.Net(9, "SYSTEMID=bbs.example\r\nNETDIR=" + spool + "\r\nREMOTE=a b " + TextFromPath(f.root.filePath("OUT")) +
                 "\r\n");
    ASSERT_EQ(ReadNetCfg(f.bbs), NetCfgResult::Ok);
    f.Net(9, "# nothing but a comment\r\n");
    ASSERT_EQ(ReadNetCfg(f.bbs), NetCfgResult::Ok);
    EXPECT_EQ(f.bbs.systemId, "bbs.example");
    EXPECT_EQ(f.bbs.spoolDir, UCase(spool));
    EXPECT_EQ(f.bbs.QueueDir(), f.root.filePath("OUT"));
    EXPECT_EQ(f.bbs.SpoolTmpDir(), f.root.filePath("SPOOL/tmp"));
    EXPECT_FALSE(QDir(f.root.filePath("SPOOL/TMP")).exists());
    // The SYSTEMID that GetSystemId reads is always the file's own.
    EXPECT_EQ(GetSystemId(f.bbs), "");
}
