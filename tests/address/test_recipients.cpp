#include "server/address/Recipients.h"
#include "server/bbs/UserDirectory.h"
#include "server/store/EventLog.h"
#include "server/store/KeyedList.h"
#include "tests/bbs/test_user_install.h"

namespace {

// Eleven records; user 7 is the auto-responder of the file-request tests.
const QList<TestUser> kUsers = {
    {"Sysop", 255, ""}, {"John Smith", 20, "I"}, {"Mary Jones", 20, "XI"}, {"", 0, ""},
    {"Bob", 20, "i"},   {"Carol", 20, ""},       {"Robot", 20, ""},        {"Dan", 20, ""},
    {"Eve", 20, ""},    {"Frank", 20, ""},       {"Grace", 20, ""},
};

class RecipientsTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.WriteUsers(kUsers);
        install.WriteNet(1, "SYSTEMID=17\r\n");
        install.WriteNet(9, "SYSTEMID=bbs.example\r\n");
        UserInstall::Write(install.Main("HANDLES.UIP"),
                           "system-daemon,SYSTEM-DAEMON,17,1\r\n"
                           "sysop,1,17,1\r\n"
                           "john.smith,2,17,1\r\n"
                           "bob,5,17,1\r\n"
                           "robot,7,17,1\r\n"
                           "8,8,17,1\r\n"
                           "bob.alt,5,17,1\r\n");
    }
    void List(const Text& section, const Text& value) { PutData(section, value, ctx.KeyedList()); }
    Text Handles() const { return UserInstall::Read(install.Main("HANDLES.UIP")); }
    Text Found(const Text& address, int32_t* user = nullptr) {
        Text name = "unset";
        const int32_t n = FindUser(ctx, address, &name);
        if (user) *user = n;
        return NumText(n) + ":" + name;
    }

    UserInstall install;
    SettingsRecord settings;
    Statistics stats;
    EventLog log{install.Dir("MAIN"), settings.MaxLogSize};
    RunState run;
    ServerContext ctx{settings, install.bbs, stats, log, run};
};

}   // namespace

TEST(RecipientAddress, PiecesAndNormalForm) {
    EXPECT_EQ(NormalisedLocalPart("  John  Smith @bbs.example"), "John..Smith");
    EXPECT_EQ(NormalisedLocalPart("a@b@c"), "a");
    EXPECT_EQ(GetAddressDomain(" a@b@c "), "b@c");
    EXPECT_EQ(GetAddressDomain("a@ b "), " b");
    EXPECT_EQ(GetAddressDomain("nobody"), "");
}

TEST_F(RecipientsTest, DomainIsTheSystemIdWhileNet9ExistsOrAListedDomain) {
    EXPECT_TRUE(CheckDomain(ctx, "x@BBS.Example "));
    EXPECT_FALSE(CheckDomain(ctx, "x@other.example"));
    EXPECT_FALSE(CheckDomain(ctx, "x@"));
    EXPECT_FALSE(CheckDomain(ctx, "bbs.example"));
    List("domains", " Other.Example ;new.domain;");
    EXPECT_TRUE(CheckDomain(ctx, "x@other.example"));
    EXPECT_FALSE(CheckDomain(ctx, "x@NEW.DOMAIN"));   // the editor's placeholder row
    QFile::remove(install.Data("NET.9"));
    EXPECT_FALSE(CheckDomain(ctx, "x@bbs.example"));
    EXPECT_TRUE(CheckDomain(ctx, "x@other.example"));
}

TEST_F(RecipientsTest, SpaceAndDotFormsFindTheSameHandle) {
    EXPECT_TRUE(CheckTo(ctx, "John Smith@bbs.example"));
    EXPECT_TRUE(CheckTo(ctx, "JOHN.SMITH@bbs.example"));
    EXPECT_EQ(Found("john smith@x"), "2:john.smith");
    // Mary is only a record name: FindUser finds her, CheckTo does not.
    EXPECT_FALSE(CheckTo(ctx, "mary.jones@bbs.example"));
    EXPECT_EQ(Found("MARY.JONES@x"), "3:Mary Jones");
    EXPECT_EQ(Found("Bob Alt@x"), "5:Bob.Alt");   // the local part, not the record name
    EXPECT_FALSE(CheckTo(ctx, "nobody@x"));
    EXPECT_EQ(Found("nobody@x"), "0:");
    EXPECT_EQ(Found(" @x"), "0:");
}

TEST_F(RecipientsTest, TheUserFileIsSearchedWithDotsReadAsSpaces) {
    EXPECT_EQ(Found("CAROL@x"), "6:Carol");
    // A dot at either end leaves a blank that no trimmed record name has.
    EXPECT_EQ(Found("carol.@x"), "0:");
    EXPECT_EQ(Found(".carol@x"), "0:");
    // The user-number step reads the same form: "5." is user 5, which
    // CheckTo, reading the local part as given, does not accept.
    settings.EmailUserNumber = 1;
    EXPECT_EQ(Found("5.@x"), "5:5");
    EXPECT_EQ(Found(".11@x"), "11:11");
    EXPECT_EQ(Found("1.1@x"), "0:");
    EXPECT_FALSE(CheckTo(ctx, "5.@x"));
}

TEST_F(RecipientsTest, ACommaOrNulInTheLocalPartNamesNoHandle) {
    // Not the handle john.smith followed by its user number column.
    EXPECT_FALSE(CheckTo(ctx, "john.smith,2@bbs.example"));
    EXPECT_EQ(Found("john.smith,2@x"), "0:");
    const Text withNul("bob\0@bbs.example", 16);
    EXPECT_FALSE(CheckTo(ctx, withNul));
    EXPECT_EQ(Found(withNul), "0:");
    EXPECT_FALSE(CheckTo(ctx, Text("\0bob@bbs.example", 16)));
}

TEST_F(RecipientsTest, FindUserNamesAUserFileMatchByItsHandle) {
    UserInstall::Write(install.Main("HANDLES.UIP"), "mary,3,17,1\r\n");
    EXPECT_EQ(Found("mary jones"), "3:mary");
    EXPECT_EQ(Found("mary"), "3:mary");
}

TEST_F(RecipientsTest, AliasesResolveToNamesAndUserNumbers) {
    List("aliases", "alias,bob;info,;info,5;sales,Mary Jones;help,0;help,1;web master,john smith;x,a,b");
    EXPECT_FALSE(CheckTo(ctx, "alias@x"));   // the placeholder row is never an alias
    EXPECT_TRUE(CheckTo(ctx, "INFO@x"));     // the empty row is skipped, the next one applies
    EXPECT_EQ(Found("info@x"), "5:Bob");     // the resolved name, as the record writes it
    EXPECT_FALSE(CheckTo(ctx, "sales@x"));   // Mary.Jones is no handle
    EXPECT_EQ(Found("sales@x"), "3:Mary Jones");
    EXPECT_FALSE(CheckTo(ctx, "help@x"));   // user 0 stops the alias step
    EXPECT_EQ(Found("help@x"), "0:");
    EXPECT_TRUE(CheckTo(ctx, "Web.Master@x"));
    EXPECT_EQ(Found("x@x"), "0:");   // "a,b" is one user column
}

TEST_F(RecipientsTest, AliasToAMissingUserNumberFindsNobody) {
    List("aliases", "ghost,40");
    EXPECT_FALSE(CheckTo(ctx, "ghost@x"));
    EXPECT_EQ(Found("ghost@x"), "0:");   // not the blank record 4
}

TEST_F(RecipientsTest, UserNumbersCountOnlyWithTheSetting) {
    EXPECT_FALSE(CheckTo(ctx, "11@x"));
    EXPECT_TRUE(CheckTo(ctx, "8@x"));   // a handle made of digits
    EXPECT_EQ(Found("11@x"), "0:");
    settings.EmailUserNumber = 1;
    EXPECT_TRUE(CheckTo(ctx, "11@x"));
    EXPECT_FALSE(CheckTo(ctx, "12@x"));
    EXPECT_FALSE(CheckTo(ctx, "0@x"));
    EXPECT_FALSE(CheckTo(ctx, "99999999999@x"));
    EXPECT_EQ(Found("11@x"), "11:11");
    EXPECT_EQ(Found("12@x"), "0:");
}

TEST_F(RecipientsTest, PostmasterListservAndFileRequests) {
    EXPECT_TRUE(CheckTo(ctx, "postmaster@x"));
    EXPECT_TRUE(CheckTo(ctx, "ListServ@x"));
    EXPECT_EQ(Found("POSTMASTER@x"), "1:Sysop");
    EXPECT_EQ(Found("listserv"), "1:Sysop");
    EXPECT_FALSE(CheckTo(ctx, "sysop**f@x"));
    settings.AllowFreq = 1;
    settings.AutorespondUser = 7;
    EXPECT_TRUE(CheckTo(ctx, "SYSOP**F@x"));
    EXPECT_EQ(Found("sysop**f@x"), "7:Robot");
    settings.AutorespondUser = 40;
    EXPECT_EQ(Found("sysop**f@x"), "1:Sysop");
    EXPECT_TRUE(install.ErrorLog().contains("GetUser"));
}

TEST_F(RecipientsTest, NothingIsFoundWithoutUserFileAndIndex) {
    QFile::remove(install.Data("USERFILE.DAT"));
    EXPECT_EQ(Found("bob@x"), "5:bob");
    QFile::remove(install.Main("HANDLES.UIP"));
    EXPECT_EQ(Found("postmaster@x"), "0:");
    EXPECT_FALSE(CheckTo(ctx, "bob@x"));
}

TEST_F(RecipientsTest, AnEditCountsOnTheNextCall) {
    EXPECT_FALSE(CheckTo(ctx, "carol@x"));
    UserInstall::Write(install.Main("HANDLES.UIP"), Handles() + "carol,6,17,1\r\n");
    EXPECT_TRUE(CheckTo(ctx, "carol@x"));
    EXPECT_FALSE(CheckPassThru(ctx, "list-bot@x"));
    List("passthru", "list-bot,0,0");
    EXPECT_TRUE(CheckPassThru(ctx, "List-Bot@x"));
}

TEST_F(RecipientsTest, PassThruNamesAndTheirIndexString) {
    List("passthru", " Web Robot ,1,7;news,1,0;feed,0,5;extra,1, 12 ;name,,");
    EXPECT_FALSE(CheckPassThru(ctx, "web robot@x"));   // the name column is not normalised
    EXPECT_FALSE(CheckPassThru(ctx, "@x"));
    EXPECT_TRUE(CheckPassThru(ctx, "NEWS@x"));
    EXPECT_TRUE(CheckPassThru(ctx, "feed"));
    EXPECT_EQ(CreatePassThruString(ctx), "Web Robot,7;extra,12");
    List("passthru", "");
    EXPECT_EQ(CreatePassThruString(ctx), "");
}

TEST_F(RecipientsTest, InternetFlagsFromNetworksList) {
    EXPECT_FALSE(CheckUserFlags(ctx, 6));   // no NETWORKS.LST
    UserInstall::Write(install.Data("NETWORKS.LST"), "1,Local,x,Z\r\n4,Fido,x,F\r\n");
    EXPECT_TRUE(CheckUserFlags(ctx, 6));   // no line for network 9
    EXPECT_FALSE(CheckUserFlags(ctx, 0));
    UserInstall::Write(install.Data("NETWORKS.LST"), "09 ,Internet,x, - \r\n");
    EXPECT_TRUE(CheckUserFlags(ctx, 6));
    UserInstall::Write(install.Data("NETWORKS.LST"), "1,Local,,\r\n9,Internet,x, i \r\n9,Again,x,-\r\n");
    EXPECT_TRUE(CheckUserFlags(ctx, 2));   // "I"
    EXPECT_TRUE(CheckUserFlags(ctx, 3));   // "XI"
    EXPECT_TRUE(CheckUserFlags(ctx, 5));   // "i", compared upper-cased
    EXPECT_FALSE(CheckUserFlags(ctx, 6));
    EXPECT_TRUE(CheckUserFlags(ctx, 1));   // security level 255
    UserInstall::Write(install.Data("NETWORKS.LST"), "9,Internet,x,IX\r\n");
    EXPECT_FALSE(CheckUserFlags(ctx, 3));   // the flags must stand together
    UserInstall::Write(install.Data("NETWORKS.LST"), "9,Internet,x,I,more\r\n");
    EXPECT_FALSE(CheckUserFlags(ctx, 2));   // the fourth column keeps the rest: "I,MORE"
}

TEST_F(RecipientsTest, ForwardingByNumberOrRecordName) {
    List("mailforwarding", "0,user@address*netnumber;5,Bob@Elsewhere.Example*9;JOHN SMITH , j@x*9 ;6,");
    EXPECT_EQ(CheckForwarding(ctx, 5), "bob@elsewhere.example*9");
    EXPECT_EQ(CheckForwarding(ctx, 2), "j@x*9");
    EXPECT_EQ(CheckForwarding(ctx, 6), "");
    EXPECT_EQ(CheckForwarding(ctx, 3), "");
    EXPECT_EQ(CheckForwarding(ctx, 0), "");
    EXPECT_EQ(CheckForwarding(ctx, 12), "");
    // A row with an empty user column names nobody, not the blank record.
    List("mailforwarding", ",x@y*9");
    EXPECT_EQ(CheckForwarding(ctx, 4), "");
}

TEST_F(RecipientsTest, FilterExemptionsByColumn) {
    List("filterexemptions", "0,,,,,,,,,,;bob,1,0,1,,,,,,,1;2,0,1");
    EXPECT_TRUE(CheckFilterExemption(ctx, "bob@x", 1));
    EXPECT_FALSE(CheckFilterExemption(ctx, "bob@x", 2));
    EXPECT_TRUE(CheckFilterExemption(ctx, "bob.alt@x", 3));
    EXPECT_TRUE(CheckFilterExemption(ctx, "bob@x", 10));
    EXPECT_FALSE(CheckFilterExemption(ctx, "bob@x", 11));
    EXPECT_FALSE(CheckFilterExemption(ctx, "bob@x", 0));
    EXPECT_TRUE(CheckFilterExemption(ctx, "john smith@x", 2));
    EXPECT_FALSE(CheckFilterExemption(ctx, "john smith@x", 3));
    EXPECT_FALSE(CheckFilterExemption(ctx, "nobody@x", 1));
    UserInstall::Write(install.Main("HANDLES.UIP"), "far,30,17,1\r\n");
    List("filterexemptions", "30,1");
    EXPECT_FALSE(CheckFilterExemption(ctx, "far@x", 1));   // beyond the user file
}

TEST_F(RecipientsTest, MailingListMembers) {
    UserInstall::Write(install.Dir("SPOOL") + "/LISTSERV.LST",
                       "other a@x\r\nfriends  Bob@Example.COM\r\nFRIENDS c@x\r\nteam a@x  b@y \r\nempty\r\n");
    TextList members{"stale"};
    EXPECT_TRUE(FindMaillist(ctx, " Friends ", members));
    EXPECT_EQ(members, TextList({"bob@example.com"}));
    EXPECT_TRUE(FindMaillist(ctx, "team", members));
    EXPECT_EQ(members, TextList({"a@x", "b@y"}));
    EXPECT_TRUE(FindMaillist(ctx, "empty", members));
    EXPECT_TRUE(members.isEmpty());
    EXPECT_FALSE(FindMaillist(ctx, "none", members));
    EXPECT_FALSE(FindMaillist(ctx, " ", members));
    QFile::remove(install.Dir("SPOOL") + "/LISTSERV.LST");
    EXPECT_FALSE(FindMaillist(ctx, "team", members));
}

TEST_F(RecipientsTest, VerifiedUserReplacesEveryLineOfTheUser) {
    // The line written is the rebuild's, whatever the client typed.
    AddVerifiedUser(ctx, 5, " Bobby.B@elsewhere ");
    EXPECT_EQ(Handles(),
              "system-daemon,SYSTEM-DAEMON,17,1\r\n"
              "sysop,1,17,1\r\n"
              "john.smith,2,17,1\r\n"
              "robot,7,17,1\r\n"
              "8,8,17,1\r\n"
              "bob,5,17,1\r\n");
    EXPECT_EQ(Found("bob@x"), "5:bob");
    EXPECT_FALSE(QFile::exists(install.Dir("TEMP") + "/HANDLES.TMP"));
}

TEST_F(RecipientsTest, VerifiedUserStartsAMissingIndex) {
    QFile::remove(install.Main("HANDLES.UIP"));
    install.WriteNet(1, "SYSTEMID= 0017 \r\n");
    AddVerifiedUser(ctx, 3, "Mary Jones");
    EXPECT_EQ(Handles(), "system-daemon,SYSTEM-DAEMON,0017,1\r\nmary.jones,3,0017,1\r\n");
}

TEST_F(RecipientsTest, VerifiedUserIgnoresUsersTheRebuildLeavesOut) {
    const Text before = Handles();
    // User 4 has security level 0: locked out, never listed, never learned.
    for (const Text& address : {Text("anything@x"), Text("a,1@x"), Text("a\r\nb@x")}) AddVerifiedUser(ctx, 4, address);
    for (const Text& address : {Text(" @x"), Text("")}) AddVerifiedUser(ctx, 5, address);
    AddVerifiedUser(ctx, 0, "zero@x");
    EXPECT_EQ(Handles(), before);
}
