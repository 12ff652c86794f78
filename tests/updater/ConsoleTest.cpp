// The update checker without a display: rows as TAB-separated lines.
#include <QBuffer>
#include <QSignalSpy>
#include "tests/updater/UpdaterFixture.h"
#include "updater/ConsoleUpdate.h"

namespace {

class ConsoleTest : public ::testing::Test {
protected:
    ConsoleTest() : here_(bbs_.Dir()) {
        bbs_.Install("OSPRINE.EXE");
        bbs_.SetVersion(36, "1.4.060711");
        bbs_.SetVersion(0, "990101");
        output_.open(QIODevice::WriteOnly);
    }

    Text Run(const QStringList& args, int expectedStatus = 0) {
        ConsoleUpdate update(UpdateAddresses{server_.BaseUrl(), ""}, output_);
        QSignalSpy ended(&update, &ConsoleUpdate::Ended);
        update.Start(args, bbs_.Dir());
        EXPECT_TRUE(WaitUntil([&] { return ended.count() == 1; }));
        EXPECT_EQ(ended.value(0).value(0).toInt(), expectedStatus);
        return output_.data();
    }

    FixtureServer server_;
    UpdaterBbs bbs_;
    CurrentDirectory here_;
    QBuffer output_;
};

TEST_F(ConsoleTest, RowsThenNotice) {
    server_.UpdateList("build",
                       "1,osprine,h.txt,n.txt,60712,osprine15.zip,1000,0123abcd,OSPRINE,Mail server;"
                       "1,osprine,h.txt,n.txt,60800,osp16.zip,1000001,ffee,OSPRINE,Next");
    EXPECT_EQ(Run({"/TYPE=1"}),
              "OSPRINE\t.60712\tMail server\tosprine15.zip\t1000 bytes\t0123abcd\n"
              "OSPRINE\t.60800\tNext\tosp16.zip\t0.95MB\tffee\n"
              "Updates available!\n"
              "Choose an update and click 'Download' to retrieve the file.\n");
    EXPECT_EQ(bbs_.VersionRecord().left(21), QDate::currentDate().toString("yyMMdd").toLatin1() + "1.5.060711     ");
}

TEST_F(ConsoleTest, NothingNewerPrintsTheNoticeUnlessQuiet) {
    server_.UpdateList("official", "1,osprine,h,n,60711,o.zip,1,m,OSPRINE,Same");
    EXPECT_EQ(Run({}), "No available updates.\nYou are running the most current versions available.\n");
    output_.buffer().clear();
    output_.seek(0);
    EXPECT_EQ(Run({"/QUIET"}), "");
    EXPECT_EQ(bbs_.VersionRecord().left(6), "990101");
}

TEST_F(ConsoleTest, FailingServicePrintsTheErrorNotice) {
    EXPECT_EQ(Run({"/TYPE=3"}, 1), "An error occurred.\nZRV Updater could not retrieve update information.\n");
}

TEST_F(ConsoleTest, OutsideABbsDirectoryPrintsNothing) {
    QFile::remove(bbs_.Path("SYSPATHS.CFG"));
    EXPECT_EQ(Run({}), "");
    EXPECT_TRUE(server_.Requests().isEmpty());
}

}   // namespace
