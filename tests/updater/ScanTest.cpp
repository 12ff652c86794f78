// The scan and the information requests against a real HTTP service on loopback.
#include <QElapsedTimer>
#include "tests/updater/UpdaterFixture.h"
#include "updater/UpdateScan.h"
#include "updater/UpdateTypes.h"

namespace {

class ScanTest : public ::testing::Test {
protected:
    ScanTest() : here_(bbs_.Dir()) {}

    ScanResult Scan(int type, bool showAll = false) {
        std::optional<ScanResult> result;
        UpdateScan(service_, Addresses(), type, bbs_.Dir(), showAll, [&](const ScanResult& r) { result = r; });
        EXPECT_TRUE(WaitUntil([&] { return result.has_value(); }));
        return result.value_or(ScanResult{});
    }

    std::optional<Text> Fetch(const QString& url, int timeoutMs = 15000) {
        std::optional<Text> body;
        service_.GetUpdateInfo(url, [&](const Text& text) { body = text; });
        WaitUntil([&] { return body.has_value(); }, timeoutMs);
        return body;
    }

    UpdateAddresses Addresses() const { return {server_.BaseUrl(), "ftp://u:p@ftp.zarvel.example/"}; }

    static QList<Text> Programs(const ScanResult& result) {
        QList<Text> programs;
        for (const UpdateEntry& row : result.rows) programs << row.program + row.VersionColumn();
        return programs;
    }

    FixtureServer server_;
    UpdaterBbs bbs_;
    CurrentDirectory here_;
    UpdateService service_;
};

const Text kOsprine60712 = "1,osprine,history.txt,notes.txt,60712,osprine15.zip,1000,0123abcd,OSPRINE,Mail server";

TEST_F(ScanTest, EachTypeAsksForItsOwnListWithoutCache) {
    bbs_.Install("OSPRINE.EXE");
    server_.UpdateList("build", kOsprine60712);
    server_.UpdateList("unofficial", "1,osprine,h,n,60713,o.zip,1,m,OSPRINE,Unofficial");
    server_.UpdateList("official", "1,osprine,h,n,60714,o.zip,1,m,OSPRINE,Official");
    EXPECT_EQ(Programs(Scan(1)), QList<Text>{"OSPRINE.60712"});
    EXPECT_EQ(Programs(Scan(2)), QList<Text>{"OSPRINE.60713"});
    EXPECT_EQ(Programs(Scan(3)), QList<Text>{"OSPRINE.60714"});
    EXPECT_EQ(server_.Requests(),
              (QList<Text>{kListTarget + "build" + kVersionQuery + "\tSat, 1 Jan 2000 00:00:00 GMT",
                           kListTarget + "unofficial" + kVersionQuery + "\tSat, 1 Jan 2000 00:00:00 GMT",
                           kListTarget + "official" + kVersionQuery + "\tSat, 1 Jan 2000 00:00:00 GMT"}));
}

TEST_F(ScanTest, InstalledVersionAgainstAvailableBuild) {
    bbs_.Install("OSPRINE.EXE");
    bbs_.SetVersion(36, "1.4.060711");
    server_.UpdateList("official", kOsprine60712 + ";1,osprine,h,n,60711,o.zip,1,m,OSPRINE,Same;");
    const ScanResult newer = Scan(3);
    EXPECT_EQ(Programs(newer), QList<Text>{"OSPRINE.60712"});
    EXPECT_EQ(newer.notice, "Updates available!\r\nChoose an update and click 'Download' to retrieve the file.");
    EXPECT_EQ(newer.rows[0].raw, kOsprine60712);

    const ScanResult all = Scan(3, true);
    EXPECT_EQ(Programs(all), (QList<Text>{"OSPRINE.60712", "OSPRINE.60711"}));
    EXPECT_EQ(all.notice, "Showing all downloads.\r\nChoose a package and click 'Download' to retrieve the file.");

    server_.UpdateList("official", "1,osprine,h,n,60711,o.zip,1,m,OSPRINE,Same");
    const ScanResult same = Scan(3);
    EXPECT_TRUE(same.rows.empty());
    EXPECT_EQ(same.notice, "No available updates.\r\nYou are running the most current versions available.");
}

TEST_F(ScanTest, DisabledEntriesAndZeroVersionsAreNeverListed) {
    bbs_.Install("ZARVEL.EXE");
    server_.UpdateList("official",
                       "0,zarvel,h,n,70000,z.zip,1,m,ZARVEL,Off;2,zarvel,h,n,70001,z.zip,1,m,ZARVEL,Two;"
                       "1,zarvel,h,n,0,z.zip,1,m,ZARVEL,Zero;1,zarvel,h,n,70002,z.zip,1,m,zarvel,On");
    EXPECT_EQ(Programs(Scan(3, true)), QList<Text>{"zarvel.70002"});
}

TEST_F(ScanTest, ProgramsNotInstalledShowOnlyWithShowAll) {
    bbs_.Install("osprine.exe");   // letter case of the file name does not matter
    server_.UpdateList("official", kOsprine60712 + ";1,zrchat,h,n,60000,c.zip,1,m,ZRCHAT,Chat");
    EXPECT_EQ(Programs(Scan(3)), QList<Text>{"OSPRINE.60712"});
    EXPECT_EQ(Programs(Scan(3, true)), (QList<Text>{"OSPRINE.60712", "ZRCHAT.60000"}));
}

TEST_F(ScanTest, PurgeProgramDatedBefore2006IsSkipped) {
    server_.UpdateList("official", "1,zpurgedb,h,n,60000,p.zip,1,m,ZPURGEDB,Purge");
    bbs_.Install("ZPURGEDB.EXE", QDate(2005, 12, 31));
    EXPECT_TRUE(Scan(3).rows.empty());
    EXPECT_TRUE(Scan(3, true).rows.empty());
    bbs_.Install("ZPURGEDB.EXE", QDate(2006, 1, 1));
    EXPECT_EQ(Programs(Scan(3)), QList<Text>{"ZPURGEDB.60000"});
}

TEST_F(ScanTest, OwnVersionFieldIsComparedForTheUpdaterItself) {
    bbs_.Install("ZRVUPDATE.EXE");
    bbs_.SetVersion(6, kZrvVersion);
    server_.UpdateList("official",
                       "1,zrvupdate,h,n,60711,u.zip,1,m,ZRVUPDATE,Same;1,zrvupdate,h,n,60800,u.zip,1,m,ZRVUPDATE,New");
    EXPECT_EQ(Programs(Scan(3)), QList<Text>{"ZRVUPDATE.60800"});
}

TEST_F(ScanTest, MalformedEntriesAreSkippedAndRecorded) {
    bbs_.Install("OSPRINE.EXE");
    server_.UpdateList(
        "official",
        "1,osprine,h,n,60712;1,osprine,h,n,6x,o.zip,1,m,OSPRINE,d;1,osprine,h,n,60712,o.zip,big,m,OSPRINE,d;"
        "1,evil,h,n,99999,e.zip,1,m,EVIL,Not ours;\r\n" +
            kOsprine60712 + ";\r\n");
    const ScanResult result = Scan(3, true);
    EXPECT_EQ(Programs(result), QList<Text>{"OSPRINE.60712"});
    const Text log = bbs_.ErrorLog();
    EXPECT_EQ(log.count("modZRVUpdate CheckUpdate - Invalid update entry\r\n"), 3);
    EXPECT_EQ(log.count("modZRVUpdate CheckUpdate - Unknown program EVIL\r\n"), 1);
}

TEST_F(ScanTest, EmptyOrFailingServiceIsAnError) {
    const Text error = "An error occurred.\r\nZRV Updater could not retrieve update information.";
    server_.UpdateList("official", "");
    EXPECT_EQ(Scan(3).notice, error);
    server_.UpdateList("build", kOsprine60712, 500);
    bbs_.Install("OSPRINE.EXE");
    const ScanResult failed = Scan(1);
    EXPECT_EQ(failed.notice, error);
    EXPECT_TRUE(failed.rows.empty());
    EXPECT_EQ(Scan(2).notice, error);   // 404: nothing written for this type
    server_.UpdateList("unofficial", kOsprine60712, 203);
    EXPECT_EQ(Programs(Scan(2)), QList<Text>{"OSPRINE.60712"});   // any 2xx status will do
}

TEST_F(ScanTest, AnswerIsCutAtTheFirstNul) {
    bbs_.Install("OSPRINE.EXE");
    bbs_.Install("ZARVEL.EXE");
    server_.UpdateList("official", kOsprine60712 + Text(";\0", 2) + "1,zarvel,h,n,70000,z.zip,1,m,ZARVEL,After");
    EXPECT_EQ(Programs(Scan(3)), QList<Text>{"OSPRINE.60712"});
}

TEST_F(ScanTest, NoServiceAtAllIsRecorded) {
    std::optional<ScanResult> result;
    UpdateScan(service_, UpdateAddresses{"http://127.0.0.1:1", ""}, 3, bbs_.Dir(), false,
               [&](const ScanResult& r) { result = r; });
    ASSERT_TRUE(WaitUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result->notice, kNoticeError);
    EXPECT_TRUE(bbs_.ErrorLog().contains("  modZRVUpdate GetUpdateInfo - ")) << bbs_.ErrorLog().constData();

    EXPECT_EQ(Fetch("  "), Text());
    EXPECT_TRUE(bbs_.ErrorLog().endsWith("  modZRVUpdate GetUpdateInfo - No valid URL specified\r\n"));
}

TEST_F(ScanTest, NotesAndHistoryTexts) {
    server_.Reply("/products/osprine/files/notes.txt", "Notes line 1\r\nNotes line 2\xE9\r\n");
    server_.Reply("/products/osprine/files/history.txt", "1.5: better", 200);
    const auto entry = *ParseUpdateEntry(kOsprine60712);
    EXPECT_EQ(Fetch(*Addresses().NotesUrl(entry)), Text("Notes line 1\r\nNotes line 2\xE9\r\n"));
    EXPECT_EQ(Fetch(*Addresses().HistoryUrl(entry)), Text("1.5: better"));
    EXPECT_EQ(server_.Requests().last(), "/products/osprine/files/history.txt\tSat, 1 Jan 2000 00:00:00 GMT");
}

TEST_F(ScanTest, ServiceSlowerThanTenSecondsCountsAsEmpty) {
    bbs_.Install("OSPRINE.EXE");
    // The service never answers within the test's time: a scan that waited
    // for it would not return at all.
    server_.UpdateList("official", kOsprine60712, 200, 3600);
    QElapsedTimer clock;
    clock.start();
    const ScanResult result = Scan(3);
    EXPECT_EQ(result.notice, kNoticeError);
    EXPECT_GE(clock.elapsed(), 9500);
}

TEST(ScanAnswer, HugeHostileAnswerIsLinearAndLogsOnlyTheFirstFaults) {
    UpdaterBbs bbs;
    CurrentDirectory here(bbs.Dir());
    bbs.Install("OSPRINE.EXE");
    Text answer;
    for (int i = 0; i < 100000; ++i) answer += "1,x,h,n,bad;1,osprine,h,n,60712,o.zip,1,m,OSPRINE,d;";
    // A rescan per entry (10^10 steps) would not end within the test's time.
    const ScanResult result = ScanAnswer(answer, ScanContext::Read(bbs.Dir(), false));
    EXPECT_EQ(result.rows.size(), 100000u);
    EXPECT_EQ(bbs.ErrorLog().count("CheckUpdate - Invalid update entry\r\n"), 10);
}

}   // namespace
