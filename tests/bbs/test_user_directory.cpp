#include <csignal>
#include "server/bbs/ByteScan.h"
#include "server/bbs/UserDirectory.h"
#include "server/bbs/UserFileColumns.h"
#include "tests/bbs/test_user_install.h"

namespace {

// The cast: a deleted record (3), a level-0 user (4), a handle with spaces (2).
const QList<TestUser> kUsers = {
    {"Sysop", 255, "AIZ"}, {"John Smith", 20, "I"}, {"", 20, ""}, {"Gone Guy", 0, ""}, {"ann", 10, ""},
};

class UserDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        bbs.WriteUsers(kUsers);
        bbs.WriteNet(1, "SYSTEMID = 0042\r\n");
        bbs.WriteNet(9, "SYSTEMID=bbs.example\r\nNETDIR=" + TextFromPath(bbs.Dir("SPOOL")) + "\r\n");
    }
    UserInstall bbs;
};

}   // namespace

TEST_F(UserDirectoryTest, GetUserReadsTheNumberedRecord) {
    bool failed = true;
    EXPECT_EQ(GetUser(bbs.bbs, 2, &failed).Handle(), "John Smith");
    EXPECT_FALSE(failed);
    EXPECT_EQ(GetUser(bbs.bbs, 1, &failed).SecurityLevel(), 255);
    EXPECT_EQ(UserCount(bbs.bbs), 5);
    EXPECT_TRUE(bbs.ErrorLog().isEmpty());
}

TEST_F(UserDirectoryTest, GetUserBeyondTheFileFailsAndIsLogged) {
    bool failed = false;
    const UserRecord r = GetUser(bbs.bbs, 6, &failed);
    EXPECT_TRUE(failed);
    EXPECT_EQ(r.Encode(), UserRecord().Encode());
    EXPECT_TRUE(bbs.ErrorLog().contains("GetUser"));
    failed = false;
    GetUser(bbs.bbs, 0, &failed);
    EXPECT_TRUE(failed);
    // A half record at the end is no record.
    UserInstall::Write(bbs.Data("USERFILE.DAT"), UserInstall::Records(kUsers) + Text(100, ' '));
    EXPECT_EQ(UserCount(bbs.bbs), 5);
    GetUser(bbs.bbs, 6, &failed);
    EXPECT_TRUE(failed);
    QFile::remove(bbs.Data("USERFILE.DAT"));
    GetUser(bbs.bbs, 1, &failed);
    EXPECT_TRUE(failed);
    EXPECT_EQ(UserCount(bbs.bbs), 0);
}

TEST_F(UserDirectoryTest, FindHandleIgnoresCaseAndPaddingButNeverMatchesAnEmptySlot) {
    EXPECT_EQ(FindHandle(bbs.bbs, "  JOHN smith "), 2);
    EXPECT_EQ(FindHandle(bbs.bbs, "gone guy"), 4);   // unlisted users are still records
    EXPECT_EQ(FindHandle(bbs.bbs, "john.smith"), 0);
    EXPECT_EQ(FindHandle(bbs.bbs, ""), 0);
    EXPECT_EQ(FindHandle(bbs.bbs, "   "), 0);
    EXPECT_EQ(FindHandle(bbs.bbs, Text("ann\0", 4)), 0);   // a NUL pads fields, not names
    // A field padded with NULs, or led by one, reads and compares as its text.
    Text nulled = UserInstall::Records(kUsers);
    nulled.replace(0, 40, Text("\0Sysop", 6).leftJustified(40, '\0'));
    UserInstall::Write(bbs.Data("USERFILE.DAT"), nulled);
    EXPECT_EQ(FindHandle(bbs.bbs, "sysop"), 1);
    EXPECT_EQ(GetUser(bbs.bbs, 1).Handle(), "Sysop");
}

TEST_F(UserDirectoryTest, ScanHandlesUipWithNeitherHandleNorNumberReadsNothing) {
    // An index that cannot be read shows whether it was read at all.
    ASSERT_TRUE(QDir().mkpath(bbs.Main("HANDLES.UIP")));
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "", 0), "");
    EXPECT_TRUE(bbs.ErrorLog().isEmpty());
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "ann", 0), "");
    EXPECT_TRUE(bbs.ErrorLog().contains("ScanHandlesUip"));
}

TEST_F(UserDirectoryTest, FindHandleSearchesBeyondRecord32767) {
    QList<TestUser> many;
    for (int i = 1; i <= 33000; ++i) many.append({"User " + NumText(i), 10, ""});
    bbs.WriteUsers(many);
    EXPECT_EQ(FindHandle(bbs.bbs, "user 32768"), 32768);
    EXPECT_EQ(FindHandle(bbs.bbs, "User 33000"), 33000);
    EXPECT_EQ(FindHandle(bbs.bbs, "User 33001"), 0);
}

TEST_F(UserDirectoryTest, ScanHandlesUipBothWays) {
    UserInstall::Write(bbs.Main("HANDLES.UIP"),
                       "system-daemon,SYSTEM-DAEMON,42,1\r\n"
                       " John.Smith , 2 ,42,1\r\n"
                       "jsmith,2,42,1\n"
                       "ann,5\r"
                       "broken\r\n"
                       "odd,x7,42,1\r\n");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "john.smith", 0), "2");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, " JSMITH ", 0), "2");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "ann", 0), "5");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "odd", 0), "0");   // found, with a number that reads as 0
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "broken", 0), "0");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "john smith", 0), "");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "", 2), "John.Smith");   // the first line of the user
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "", 5), "ann");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "", 9), "");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "", 0), "");
    // A comma or NUL is part of the name asked for, never a column end or padding.
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "jsmith,2", 0), "");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, Text("jsmith\0", 7), 0), "");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, Text("\0ann", 4), 0), "");
    UserInstall::Write(bbs.Main("HANDLES.UIP"), "bo\r\nbobby,3\r\nbob\tx,4\r\nBOB \t,5\r\nbob,6\r\n");
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "bob", 0), "5");   // padding after the handle, before the comma
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "bo", 0), "0");    // a line of one column
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "bobb", 0), "");
    QFile::remove(bbs.Main("HANDLES.UIP"));
    EXPECT_EQ(ScanHandlesUip(bbs.bbs, "ann", 0), "");
}

TEST_F(UserDirectoryTest, RebuiltUipListsListedUsersWithTheirExtraNames) {
    UserInstall::Write(bbs.Main("HANDLES.UIP"), "old,1,1,1\r\n");
    UserInstall::Write(bbs.Main("AUTORESP.CFG"), "Sales Desk,x\r\nnocomma\r\n ,empty name\r\nInfo,y,z\r\n");
    CreateHandlesUIP(bbs.bbs, 5, "Web Master,2; ,2;ghost,3;late,9;x,0");   // an empty name gets no line
    EXPECT_EQ(UserInstall::Read(bbs.Main("HANDLES.UIP")),
              "system-daemon,SYSTEM-DAEMON,42,1\r\n"
              "sysop,1,42,1\r\n"
              "john.smith,2,42,1\r\n"
              "web.master,2,42,1\r\n"
              "john.smith,2,42,1\r\n"
              "ann,5,42,1\r\n"
              "sales.desk,5,42,1\r\n"
              "info,5,42,1\r\n"
              "ann,5,42,1\r\n");
    EXPECT_EQ(UserInstall::Read(bbs.Main("HANDLES.BAK")), "old,1,1,1\r\n");
}

TEST_F(UserDirectoryTest, AutoresponderBelowOneMeansUserOne) {
    UserInstall::Write(bbs.Main("AUTORESP.CFG"), "help,1\r\n");
    CreateHandlesUIP(bbs.bbs, 0, "");
    EXPECT_TRUE(UserInstall::Read(bbs.Main("HANDLES.UIP"))
                    .startsWith("system-daemon,SYSTEM-DAEMON,42,1\r\nsysop,1,42,1\r\nhelp,1,42,1\r\nsysop,1,42,1\r\n"
                                "john.smith,2,42,1\r\n"));
    EXPECT_FALSE(QFile::exists(bbs.Main("HANDLES.BAK")));
}

TEST_F(UserDirectoryTest, WithoutTheInternetNetworkTheUipIndexGoes) {
    UserInstall::Write(bbs.Main("HANDLES.UIP"), "stale,1,1,1\r\n");
    QFile::remove(bbs.Data("NET.9"));
    CreateHandlesUIP(bbs.bbs, 1, "");
    EXPECT_FALSE(QFile::exists(bbs.Main("HANDLES.UIP")));
}

TEST_F(UserDirectoryTest, RebuiltFidKeepsNamesAsStored) {
    QDir(bbs.Dir("MAIN")).mkpath("FIDO");
    bbs.WriteNet(4, "NETDIR= " + TextFromPath(bbs.Dir("MAIN")) + "/FIDO \r\n");
    UserInstall::Write(bbs.Main("FIDO/HANDLES.FID"), "old\r\n");
    CreateHandlesFID(bbs.bbs, 2, "Web Master,2");
    EXPECT_EQ(UserInstall::Read(bbs.Main("FIDO/HANDLES.FID")),
              "Sysop,1,Sysop,42,1\r\n"
              "John Smith,2,John Smith,42,1\r\n"
              "Web Master,2,Web Master,42,1\r\n"
              "John Smith,2,John Smith,42,1\r\n"
              "ann,5,ann,42,1\r\n");
    EXPECT_EQ(UserInstall::Read(bbs.Main("FIDO/HANDLES.BAK")), "old\r\n");
}

TEST_F(UserDirectoryTest, AHandleWithALineBreakForgesNoIndexLine) {
    bbs.WriteUsers({{"Sysop", 255, ""}, {"x\r\nann,1", 10, ""}, {"lf\nx", 10, ""}, {"ann", 10, ""}});
    CreateHandlesUIP(bbs.bbs, 1, "");
    EXPECT_EQ(UserInstall::Read(bbs.Main("HANDLES.UIP")),
              "system-daemon,SYSTEM-DAEMON,42,1\r\nsysop,1,42,1\r\nann,4,42,1\r\n");
    QDir(bbs.Dir("MAIN")).mkpath("FIDO");
    bbs.WriteNet(4, "NETDIR=" + TextFromPath(bbs.Dir("MAIN")) + "/FIDO\r\n");
    CreateHandlesFID(bbs.bbs, 1, "");
    EXPECT_EQ(UserInstall::Read(bbs.Main("FIDO/HANDLES.FID")), "Sysop,1,Sysop,42,1\r\nann,4,ann,42,1\r\n");
}

TEST_F(UserDirectoryTest, FidIndexStaysWithoutNetworkFourOrItsDirectory) {
    QDir(bbs.Dir("MAIN")).mkpath("FIDO");
    UserInstall::Write(bbs.Main("FIDO/HANDLES.FID"), "old\r\n");
    CreateHandlesFID(bbs.bbs, 1, "");
    EXPECT_EQ(UserInstall::Read(bbs.Main("FIDO/HANDLES.FID")), "old\r\n");
    bbs.WriteNet(4, "NETDIR=" + TextFromPath(bbs.Dir("MAIN")) + "/NOWHERE\r\n");
    CreateHandlesFID(bbs.bbs, 1, "");
    EXPECT_EQ(UserInstall::Read(bbs.Main("FIDO/HANDLES.FID")), "old\r\n");
    EXPECT_FALSE(QFile::exists(bbs.Main("NOWHERE")));
}

TEST(IndexLines, EveryLineEndIsRecognised) {
    const auto lines = [](std::string_view text, LineEnds ends = LineEnds::Any) {
        TextList out;
        ForEachLine(text, ends, [&](std::string_view l) {
            out.append(Text(l.data(), qsizetype(l.size())));
            return true;
        });
        return out;
    };
    EXPECT_EQ(lines("a\r\nb\nc\rd"), TextList({"a", "b", "c", "d"}));
    EXPECT_EQ(lines("a\r\n\r\nb\r\n"), TextList({"a", "", "b"}));
    EXPECT_EQ(lines("a\r\r\n\n"), TextList({"a", "", ""}));
    EXPECT_EQ(lines("a\r"), TextList({"a"}));
    EXPECT_EQ(lines("\n"), TextList({""}));
    EXPECT_EQ(lines(""), TextList());
    int seen = 0;
    ForEachLine("x\ny\nz", LineEnds::Any, [&](std::string_view) { return ++seen < 2; });
    EXPECT_EQ(seen, 2);
    // The settings files' rule: only LF ends a line, a lone CR is text.
    EXPECT_EQ(lines("a\r\nb\nc\rd\r", LineEnds::Lf), TextList({"a", "b", "c\rd"}));
}

TEST_F(UserDirectoryTest, AnUnreadableUserFileLeavesTheIndexAlone) {
    // The tests may run as root, whom file permissions do not stop; a
    // directory in the user file's place cannot be read either.
    UserInstall::Write(bbs.Main("HANDLES.UIP"), "kept,1,1,1\r\n");
    ASSERT_TRUE(QFile::remove(bbs.Data("USERFILE.DAT")));
    ASSERT_TRUE(QDir().mkpath(bbs.Data("USERFILE.DAT")));
    CreateHandlesUIP(bbs.bbs, 1, "");
    EXPECT_EQ(UserInstall::Read(bbs.Main("HANDLES.UIP")), "kept,1,1,1\r\n");
    EXPECT_TRUE(bbs.ErrorLog().contains("CreateHandlesUIP"));
    EXPECT_EQ(FindHandle(bbs.bbs, "Sysop"), 0);
    // A missing user file is no fault: the index keeps its first line only.
    ASSERT_TRUE(QDir().rmdir(bbs.Data("USERFILE.DAT")));
    CreateHandlesUIP(bbs.bbs, 1, "");
    EXPECT_EQ(UserInstall::Read(bbs.Main("HANDLES.UIP")), "system-daemon,SYSTEM-DAEMON,42,1\r\n");
}

TEST_F(UserDirectoryTest, AUserFileShortenedWhileMappedIsAFaultNotACrash) {
    struct sigaction before {};
    sigaction(SIGBUS, nullptr, &before);
    QFile file(bbs.Data("USERFILE.DAT"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const uchar* mapped = file.map(0, file.size());
    ASSERT_NE(mapped, nullptr);
    const int stride = kUserHandleSize + 2;
    Text out(5 * stride, '\0');
    ASSERT_TRUE(
        GatherUserColumns(reinterpret_cast<const char*>(mapped), 5, UserColumnSet::HandlesAndLevels, out.data()));
    EXPECT_EQ(out.left(kUserHandleSize), Text("Sysop").leftJustified(kUserHandleSize, ' '));
    EXPECT_EQ(out.mid(kUserHandleSize, 2), Text("\xFF\x00", 2));
    // Shortened underneath the mapping, as the BBS might do meanwhile.
    ASSERT_TRUE(file.resize(0));
    EXPECT_EQ(out.mid(4 * stride, stride), Text("ann").leftJustified(kUserHandleSize, ' ') + Text("\x0A\x00", 2));
    EXPECT_FALSE(GatherUserColumns(reinterpret_cast<const char*>(mapped), 5, UserColumnSet::Handles, out.data()));
    // The handler is gone again afterwards and the next lookup works.
    UserInstall::Write(bbs.Data("USERFILE.DAT"), UserInstall::Records(kUsers));
    EXPECT_EQ(FindHandle(bbs.bbs, "ann"), 5);
    struct sigaction current {};
    sigaction(SIGBUS, nullptr, &current);
    EXPECT_EQ(current.sa_handler, before.sa_handler);
}

TEST(IndexLines, BytesCompareAsTheTextHelpersCompare) {
    // Every pair of single bytes, so Latin-1 letters fold the same way here
    // as in the rest of the server.
    int mismatches = 0;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            const Text x(1, char(a)), y(1, char(b));
            if (SameTextBytes(ByteView(x), ByteView(y)) != SameText(x, y)) ++mismatches;
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_TRUE(SameTextBytes("\xC4RGER", "\xE4rger"));
    EXPECT_TRUE(FieldEquals(std::string_view("  Ann Lee \0\0", 12), "ann lee"));
    EXPECT_TRUE(FieldEquals(std::string_view("Ann Lee\0\0", 9), "ann lee"));
    EXPECT_FALSE(FieldEquals("Ann Lee x", "ann lee"));
    EXPECT_FALSE(FieldEquals("Ann", "ann lee"));
}
