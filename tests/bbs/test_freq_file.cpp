// Finding a requested file: magic names first, then the file areas whose
// switch is on; names match regardless of case and never leave the areas.
#include "server/bbs/FileRequest.h"
#include "server/store/Files.h"
#include "tests/support/TempBbs.h"

#include <gtest/gtest.h>
#include <QDir>

namespace {

class FreqInstall {
public:
    FreqInstall() {
        TestBbsOptions o;
        o.installTosser = false;
        install_ = std::make_unique<TempBbs>(o);
        const TestBbsLayout& l = install_->Layout();
        bbs.paths.fields[0] = TextFromPath(l.mainDir);
        bbs.paths.fields[2] = TextFromPath(l.dataDir);
        bbs.paths.fields[6] = TextFromPath(l.tempDir);
        EXPECT_EQ(ReadNetCfg(bbs), NetCfgResult::Ok);
    }
    const TestBbsLayout& L() const { return install_->Layout(); }
    QString Open(const char* name) const { return PathJoin(L().fileAreaDir, name); }
    void Magic(const Text& text) const { ASSERT_TRUE(WriteFileAtomic(PathJoin(L().net4Dir, "MAGIC.FID"), text)); }

    std::unique_ptr<TempBbs> install_;
    BbsConfig bbs;
};

}   // namespace

TEST(FreqFile, AreaFileIsFoundWhateverTheCaseOfTheRequest) {
    FreqInstall f;
    EXPECT_EQ(GetFreqFile(f.bbs, "README.TXT"), f.Open("README.TXT"));
    EXPECT_EQ(GetFreqFile(f.bbs, " readme.txt "), f.Open("README.TXT"));
    ASSERT_TRUE(WriteFileAtomic(f.Open("lower.zip"), "x"));
    EXPECT_EQ(GetFreqFile(f.bbs, "LOWER.ZIP"), f.Open("lower.zip"));
}

TEST(FreqFile, MagicNameComesBeforeTheAreas) {
    FreqInstall f;
    EXPECT_EQ(GetFreqFile(f.bbs, "about"), PathJoin(f.L().net4Dir, "ABOUT.TXT"));
    EXPECT_EQ(GetFreqFile(f.bbs, "FILES"), f.Open("ALLFILES.TXT"));
    // A magic name equal to an area file's name wins over the area.
    f.Magic("README.TXT " + TextFromPath(PathJoin(f.L().net4Dir, "ABOUT.TXT")) + "\r\n");
    EXPECT_EQ(GetFreqFile(f.bbs, "readme.txt"), PathJoin(f.L().net4Dir, "ABOUT.TXT"));
}

TEST(FreqFile, MagicEntriesThatLeadNowhereAreSkipped) {
    FreqInstall f;
    f.Magic("DIR " + TextFromPath(f.L().fileAreaDir) + "\r\n" + "GONE " + TextFromPath(f.Open("NOPE.TXT")) + "\r\n" +
            "EMPTY\r\n\r\n" + "LIST " + TextFromPath(f.Open("ALLFILES.TXT")) + "\\\r\n");
    EXPECT_EQ(GetFreqFile(f.bbs, "DIR"), "");
    EXPECT_EQ(GetFreqFile(f.bbs, "GONE"), "");
    EXPECT_EQ(GetFreqFile(f.bbs, "EMPTY"), "");
    EXPECT_EQ(GetFreqFile(f.bbs, "list"), f.Open("ALLFILES.TXT"));
}

TEST(FreqFile, AreaWithSwitchOffOrMissingDirectoryIsNeverSearched) {
    FreqInstall f;
    ASSERT_TRUE(QFileInfo::exists(PathJoin(f.L().closedAreaDir, "SECRET.TXT")));
    EXPECT_EQ(GetFreqFile(f.bbs, "SECRET.TXT"), "");
    ASSERT_TRUE(QDir(f.L().fileAreaDir).removeRecursively());
    EXPECT_EQ(GetFreqFile(f.bbs, "README.TXT"), "");
}

TEST(FreqFile, NamesThatCouldLeaveTheAreaAreNotFound) {
    FreqInstall f;
    // SECRET.TXT lies in the closed area next to the open one.
    for (const Text& name :
         {Text("../PRIV/SECRET.TXT"), Text("..\\PRIV\\SECRET.TXT"), Text(".."), Text("/etc/passwd"),
          Text("C:SECRET.TXT"), Text("PRIV/SECRET.TXT"), Text("READ\x01ME.TXT"), Text("..README.TXT"), Text("")})
        EXPECT_EQ(GetFreqFile(f.bbs, name), "") << name.constData();
    ASSERT_TRUE(QDir().mkpath(f.Open("SUBDIR")));
    EXPECT_EQ(GetFreqFile(f.bbs, "SUBDIR"), "");
}

TEST(FreqFile, NoAreaFileMeansNothingIsFound) {
    FreqInstall f;
    ASSERT_TRUE(QFile::remove(PathJoin(f.L().mainDir, "DATABASE.CFG")));
    EXPECT_EQ(GetFreqFile(f.bbs, "ABOUT"), "");
    EXPECT_EQ(GetFreqFile(f.bbs, "README.TXT"), "");
}
