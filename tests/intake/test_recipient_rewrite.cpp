// Recipient by recipient: aliases, handles and user numbers rewrite the To
// header of the copy; carbon copies widen the list; forwarding entries send
// a copy elsewhere.
#include "server/bbs/EmailRecord.h"
#include "tests/intake/IntakeFixture.h"

namespace {
const Text kHeaders =
    "From: Alice <alice@remote.example>\r\nTo: Someone <someone@else.example>\r\n"
    "Subject: Hi\r\nDate: Tue, 11 Jul 2006 19:35:37 +0200\r\n";

Text ToLine(const Text& file) {
    for (const Text& line : file.split('\n'))
        if (line.startsWith("To: ")) return line.chopped(1);
    return {};
}
}   // namespace

TEST(Rewrite, AliasToUserNumberOrNameBecomesLocalAddress) {
    IntakeInstall bbs;
    bbs.List("aliases", "web master,3;help,Help Desk");
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "Web Master@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(ToLine(bbs.HandOff(0)), "To: <mary.jones@bbs.example>");
    EXPECT_TRUE(bbs.Logged("Aliased recipient changed to: mary.jones@bbs.example"));
    EXPECT_TRUE(bbs.HandOff(0).contains("\tfor <mary.jones@bbs.example>; "));
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "help@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(ToLine(bbs.HandOff(1)), "To: <help.desk@bbs.example>");
}

TEST(Rewrite, HandleKeepsTheRecipientAsGiven) {
    IntakeInstall bbs;
    ASSERT_EQ(bbs.Save(Mail(kHeaders), " Night.Owl@BBS.example "), SaveResult::Saved);
    EXPECT_EQ(ToLine(bbs.HandOff()), "To: <night.owl@bbs.example>");
    EXPECT_EQ(bbs.Events().last(), "Email received: alice@remote.example --> night.owl@bbs.example");
}

TEST(Rewrite, UserNumberOnlyWhenSwitchedOnAndInRange) {
    IntakeInstall bbs;
    bbs.settings.EmailUserNumber = 1;
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "4@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(ToLine(bbs.HandOff(0)), "To: <darkstar@bbs.example>");
    EXPECT_TRUE(bbs.Logged("Numeric recipient changed to: darkstar@bbs.example"));
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "99@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(ToLine(bbs.HandOff(1)), "To: <99@bbs.example>");
    bbs.settings.EmailUserNumber = 0;
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "4@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(ToLine(bbs.HandOff(2)), "To: <4@bbs.example>");
}

// The BBS files a copy by its first To line: a sender's To line that names
// somebody else must not decide where the postmaster's or a pass-through
// name's copy goes. One that names the recipient stays as written.
TEST(Rewrite, EveryCopyIsFiledForItsEnvelopeRecipient) {
    IntakeInstall bbs;
    bbs.List("passthru", "guest,0,0");
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "guest@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(ToLine(bbs.HandOff(0)), "To: <guest@bbs.example>");
    ASSERT_EQ(bbs.Save(Mail("From: a@remote.example\r\nTo: <mary.jones@bbs.example>\r\n"), "postmaster@bbs.example"),
              SaveResult::Saved);
    EXPECT_EQ(ToLine(bbs.HandOff(1)), "To: <postmaster@bbs.example>");
    EXPECT_TRUE(bbs.HandOff(1).contains("\tfor <postmaster@bbs.example>; "));
    ASSERT_EQ(bbs.Save(Mail("From: a@remote.example\r\nTo: The Guest <GUEST@bbs.example>\r\n"), "guest@bbs.example"),
              SaveResult::Saved);
    EXPECT_EQ(ToLine(bbs.HandOff(2)), "To: The Guest <GUEST@bbs.example>");
}

TEST(CarbonCopies, HeaderRecipientsComeFirstAndUnknownOnesAreDropped) {
    IntakeInstall bbs;
    bbs.settings.AllowCarbonCopy = 1;
    bbs.List("passthru", "guest,0,0");
    const Text headers =
        "From: a@remote.example\r\nTo: Mary <mary.jones@bbs.example>, x@else.example\r\n"
        "Cc: bob@bbs.example, MARY.JONES@bbs.example\r\nBcc: nobody@bbs.example\r\n";
    ASSERT_EQ(bbs.Save(Mail(headers), "darkstar@bbs.example,guest@bbs.example"), SaveResult::Saved);
    ASSERT_EQ(bbs.HandOffs().size(), 3);
    EXPECT_TRUE(bbs.HandOff(0).contains("\tfor <mary.jones@bbs.example>; "));
    EXPECT_TRUE(bbs.HandOff(1).contains("\tfor <bob@bbs.example>; "));
    EXPECT_TRUE(bbs.HandOff(2).contains("\tfor <darkstar@bbs.example>; "));
    // Without the switch only the envelope counts.
    bbs.settings.AllowCarbonCopy = 0;
    ASSERT_EQ(bbs.Save(Mail(headers), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(bbs.HandOffs().size(), 4);
}

TEST(Forwarding, OnlyTheForwardedRecipientLeavesTheHandOff) {
    IntakeInstall bbs;
    bbs.List("mailforwarding", "0,user@address*netnumber;mary jones,darkstar");
    ASSERT_EQ(bbs.Save(Mail(kHeaders, "Body line\r\n\r\n"), "bob@bbs.example,mary.jones@bbs.example"),
              SaveResult::Saved);
    ASSERT_EQ(bbs.HandOffs().size(), 1);
    EXPECT_TRUE(bbs.HandOff().contains("\tfor <bob@bbs.example>; "));
    const QList<EmailEntry> mail = ReadEmailBase(bbs.bbs.MessageDir());
    ASSERT_EQ(mail.size(), 1);
    EXPECT_EQ(mail[0].record.ToUser, "darkstar");
    EXPECT_EQ(mail[0].record.ToUserNumber, 4);
    // The body ends with the (empty) line of the missing attachment tail.
    EXPECT_EQ(mail[0].body, "Body line\r\n\r\n");
    EXPECT_TRUE(bbs.Logged("Email forwarded to: darkstar"));
    EXPECT_EQ(bbs.stats.TotalReceived, 2);
}

TEST(Forwarding, ForwardedCopyCarriesNoTraceHeadersButTheTail) {
    IntakeInstall bbs;
    bbs.List("mailforwarding", "4,friend@far.example*9");
    const Text body = "Text\r\n--b\r\nContent-Type: application/zip\r\n\r\nUEsD\r\n\r\n";
    ASSERT_EQ(bbs.Save(Mail(kHeaders, body), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_TRUE(bbs.HandOffs().isEmpty());
    ASSERT_EQ(bbs.QueueFiles(), QStringList{"V1.D"});
    const Text queued = ReadFileBytes(PathJoin(bbs.bbs.QueueDir(), "V1.D"));
    EXPECT_EQ(queued,
              "reply-to: Alice <alice@remote.example>\r\nFrom: Alice <alice@remote.example>\r\n"
              "To: <friend@far.example>\r\nSubject: Hi\r\nDate: Tue, 11 Jul 2006 19:35:37 +0200\r\n\r\n"
              "Text\r\n--b\r\nContent-Type: application/zip\r\n\r\nUEsD\r\n\r\n");
    EXPECT_TRUE(bbs.Logged("Email forwarded to: friend@far.example"));
}

TEST(CarbonCopies, HugeHeaderListIsCutButTheEnvelopeAlwaysCounts) {
    IntakeInstall bbs;
    bbs.settings.AllowCarbonCopy = 1;
    Text to = "bob@bbs.example";
    for (int i = 0; i < 5000; ++i)
        to += ", nobody" + Text::number(i) + "@bbs.example, x" + Text::number(i) + "@far.example";
    to += ", mary.jones@bbs.example";
    ASSERT_EQ(bbs.Save(Mail("From: a@remote.example\r\nTo: " + to + "\r\n"), "darkstar@bbs.example"),
              SaveResult::Saved);
    // Bob comes first, Mary Jones is beyond the lookups, darkstar is the envelope's.
    ASSERT_EQ(bbs.HandOffs().size(), 2);
    EXPECT_TRUE(bbs.HandOff(0).contains("\tfor <bob@bbs.example>; "));
    EXPECT_TRUE(bbs.HandOff(1).contains("\tfor <darkstar@bbs.example>; "));
}
