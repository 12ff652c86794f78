// Messages deleted by a rule: missing To or From, the header filter and the
// subject filter, their exemptions and their counters.
#include "tests/intake/IntakeFixture.h"

namespace {
Text Headers(const Text& subject, const Text& extra = "") {
    return "From: a@remote.example\r\nTo: darkstar@bbs.example\r\nSubject: " + subject +
           "\r\nDate: Tue, 11 Jul 2006 19:35:37 +0200\r\n" + extra;
}
}   // namespace

TEST(Rules, MissingToDeletesEvenWithCarbonCopies) {
    IntakeInstall bbs;
    bbs.settings.AllowCarbonCopy = 1;
    const Text message = Mail("From: a@remote.example\r\nCc: darkstar@bbs.example\r\nTo:  \r\n");
    EXPECT_EQ(bbs.Save(message, "darkstar@bbs.example"), SaveResult::NotSaved);
    EXPECT_TRUE(bbs.Logged("Email contains an invalid TO header. Message deleted."));
    EXPECT_TRUE(bbs.HandOffs().isEmpty());
}

TEST(Rules, MissingFromAndSenderDeletes) {
    IntakeInstall bbs;
    EXPECT_EQ(bbs.Save(Mail("To: darkstar@bbs.example\r\n"), "darkstar@bbs.example"), SaveResult::NotSaved);
    EXPECT_TRUE(bbs.Logged("Email contains an invalid FROM header. Message deleted."));
    EXPECT_TRUE(bbs.HandOffs().isEmpty());
    EXPECT_EQ(bbs.stats.TotalReceived, 0);
}

TEST(HeaderFilter, EmptyPhraseRequiresTheHeader) {
    IntakeInstall bbs;
    bbs.List("headerfilter", "Message-ID,");
    EXPECT_EQ(bbs.Save(Mail(Headers("Hi")), "darkstar@bbs.example"), SaveResult::NotSaved);
    EXPECT_TRUE(bbs.Logged("Email HEADER (Message-ID) is blank or non-existant. Message deleted."));
    EXPECT_EQ(bbs.stats.BlockedHeaders, 1);
    EXPECT_EQ(bbs.statsUpdates, 1);
    EXPECT_EQ(bbs.Save(Mail(Headers("Hi", "Message-ID: <x@y>\r\n")), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(bbs.stats.BlockedHeaders, 1);
}

TEST(HeaderFilter, PhraseMatchesIgnoringCaseAndPlaceholdersAreSkipped) {
    IntakeInstall bbs;
    bbs.List("headerfilter",
             "X-Filter, *** NEW FILTER ***; x-filter,hi; Foo, *** new filter *** ;,Hi;"
             " X-Mailer , Spam  Cannon ;Subject, free");
    EXPECT_EQ(bbs.Save(Mail(Headers("Hi there")), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(bbs.Save(Mail(Headers("Hi", "X-Mailer: The SPAM  CANNON 2\r\n")), "darkstar@bbs.example"),
              SaveResult::NotSaved);
    EXPECT_TRUE(bbs.Logged("Email HEADER (X-Mailer) contains filtered phrase \"Spam  Cannon\". Message deleted."));
    EXPECT_EQ(bbs.Save(Mail(Headers("FREE money")), "darkstar@bbs.example"), SaveResult::NotSaved);
    EXPECT_EQ(bbs.Save(Mail(Headers("free money")), "darkstar@bbs.example"), SaveResult::NotSaved);
    EXPECT_EQ(bbs.stats.BlockedHeaders, 3);
    EXPECT_EQ(bbs.HandOffs().size(), 1);
}

TEST(SubjectFilter, PhraseMatchesWithCaseAndUntrimmed) {
    IntakeInstall bbs;
    bbs.List("subjectfilter", "*** new filter ***;FREE; offer");
    EXPECT_EQ(bbs.Save(Mail(Headers("Get it FREE now")), "darkstar@bbs.example"), SaveResult::NotSaved);
    EXPECT_TRUE(bbs.Logged("Email SUBJECT contains filtered phrase \"FREE\". Message deleted."));
    EXPECT_EQ(bbs.Save(Mail(Headers("Get it free now")), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(bbs.Save(Mail(Headers("offer inside")), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(bbs.Save(Mail(Headers("a special offer")), "darkstar@bbs.example"), SaveResult::NotSaved);
    EXPECT_TRUE(bbs.Logged("Email SUBJECT contains filtered phrase \" offer\". Message deleted."));
    EXPECT_EQ(bbs.stats.BlockedSubjects, 2);
    EXPECT_EQ(bbs.stats.BlockedHeaders, 0);
}

TEST(Exemptions, FirstRecipientExemptFromEachFilterByItsColumn) {
    IntakeInstall bbs;
    bbs.List("headerfilter", "Subject,cheap");
    bbs.List("subjectfilter", "FREE");
    // darkstar (user 4) is exempt from the header filter only, by number;
    // Mary Jones from the subject filter only, by name.
    bbs.List("filterexemptions", "4,0,1,0,,,,,,,;mary jones,0,0,1,,,,,,,");
    EXPECT_EQ(bbs.Save(Mail(Headers("cheap")), "darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(bbs.Save(Mail(Headers("FREE")), "darkstar@bbs.example"), SaveResult::NotSaved);
    EXPECT_EQ(bbs.Save(Mail(Headers("FREE")), "mary.jones@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(bbs.Save(Mail(Headers("cheap")), "mary.jones@bbs.example"), SaveResult::NotSaved);
    // Only the first recipient counts.
    EXPECT_EQ(bbs.Save(Mail(Headers("cheap")), "mary.jones@bbs.example,darkstar@bbs.example"), SaveResult::NotSaved);
    EXPECT_EQ(bbs.Save(Mail(Headers("cheap")), "darkstar@bbs.example,mary.jones@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(bbs.HandOffs().size(), 4);
}
