// The hand-off file that the BBS's tosser imports: its exact content, the
// header repair, dot-stuffing, the attachment tail, the statistics and the
// local-fault reply.
#include "tests/intake/IntakeFixture.h"

#include "server/store/Dates.h"

#include <QRegularExpression>

namespace {

// Header dates depend on the clock; they are compared as "<DATE>".
Text MaskDates(const Text& text) {
    static const QRegularExpression date(R"([A-Z][a-z]{2}, \d{2} [A-Z][a-z]{2} \d{4} \d{2}:\d{2}:\d{2} [+-]\d{4})");
    return QString::fromLatin1(text).replace(date, "<DATE>").toLatin1();
}

const Text kHeaders =
    "From: Alice <alice@remote.example>\r\n"
    "To: John Smith <john.smith@bbs.example>\r\n"
    "Subject: Hi\r\n"
    "Date: Tue, 11 Jul 2006 19:35:37 +0200\r\n"
    "Message-ID: <1@remote.example>\r\n";

}   // namespace

TEST(HandOff, FileHoldsTraceHeadersRepairedMessageAndTwoEmptyLines) {
    IntakeInstall bbs;
    const Text body = "Line one\r\n...\r\n. x\r\n..x\r\n\r\n\r\n";
    ASSERT_EQ(bbs.Save(Mail(kHeaders, body), "john.smith@bbs.example"), SaveResult::Saved);
    ASSERT_EQ(bbs.HandOffs(), QStringList{"V1.D"});
    EXPECT_EQ(MaskDates(bbs.HandOff()),
              "Return-Path: <sender@remote.example>\r\n"
              "Received: from 192.0.2.7\r\n"
              "\tby bbs.example (OSPRINE v1.4.060711)\r\n"
              "\tfor <john.smith@bbs.example>; <DATE>\r\n"
              "reply-to: Alice <alice@remote.example>\r\n"
              "From: Alice <alice@remote.example>\r\n"
              "To: <john.smith@bbs.example>\r\n"
              "Subject: Hi\r\n"
              "Date: <DATE>\r\n"
              "Message-ID: <1@remote.example>\r\n"
              "\r\n"
              "Line one\r\n..\r\n. x\r\n.x\r\n"
              "\r\n"
              "\r\n");
    EXPECT_EQ(bbs.Events(),
              TextList({"> Message Return-Path: sender@remote.example", "> Message From: Alice <alice@remote.example>",
                        "> Message To: John Smith <john.smith@bbs.example>", "> Message Subject: Hi",
                        "> Message ID: <1@remote.example>",
                        "Email received: alice@remote.example --> john.smith@bbs.example"}));
}

TEST(HandOff, AttachmentTailFollowsAnEmptyLineAndFileEndsWithOne) {
    IntakeInstall bbs;
    const Text body =
        "--b\r\nContent-Type: text/plain\r\n\r\nSee the file.\r\n"
        "--b\r\nContent-Type: application/pdf;\r\n\tname=x.pdf\r\n\r\nQUJD\r\n..\r\n--b--\r\n\r\n";
    ASSERT_EQ(bbs.Save(Mail(kHeaders, body), "john.smith@bbs.example"), SaveResult::Saved);
    const Text file = bbs.HandOff();
    const qsizetype bodyAt = file.indexOf("\r\n\r\n") + 4;
    // The tail keeps its dots and has its folded line joined by one space.
    EXPECT_EQ(file.mid(bodyAt),
              "--b\r\nContent-Type: text/plain\r\n\r\nSee the file.\r\n--b\r\n"
              "\r\nContent-Type: application/pdf; name=x.pdf\r\n\r\nQUJD\r\n..\r\n--b--\r\n"
              "\r\n");
}

TEST(HandOff, LineEndsAreNormalisedAndMissingHeadersFilledIn) {
    IntakeInstall bbs;
    const QDateTime before = QDateTime::currentDateTime();
    ASSERT_EQ(
        bbs.Save("Sender: Bob <bob@remote.example>\nTo: darkstar@bbs.example\r\rBody\rline\n", "darkstar@bbs.example"),
        SaveResult::Saved);
    const Text file = bbs.HandOff();
    const qsizetype head = file.indexOf("\r\n\tfor <darkstar@bbs.example>; ");
    ASSERT_GE(head, 0);
    const Text rest = file.mid(file.indexOf("\r\n", head + 2) + 2);
    // From comes from Sender, reply-to from From; Subject is added empty and
    // Date from the clock, each before the first header line.
    EXPECT_EQ(MaskDates(rest),
              "reply-to: Bob <bob@remote.example>\r\n"
              "From: Bob <bob@remote.example>\r\n"
              "Date: <DATE>\r\n"
              "Subject: \r\n"
              "Sender: Bob <bob@remote.example>\r\n"
              "To: <darkstar@bbs.example>\r\n"
              "\r\nBody\r\nline\r\n\r\n\r\n");
    EXPECT_TRUE(rest.contains(HeaderDateNoZone(before).left(16)));
}

TEST(HandOff, BodyLineThatLooksLikeAHeaderIsNeverEdited) {
    IntakeInstall bbs;
    const Text headers =
        "From: a@remote.example\r\nTo: darkstar@bbs.example\r\nDate: Tue, 11 Jul 2006 19:35:37 +0200\r\n";
    ASSERT_EQ(bbs.Save(Mail(headers, "Subject: in the body\r\nTo: x@y.example\r\n"), "darkstar@bbs.example"),
              SaveResult::Saved);
    const Text file = bbs.HandOff();
    EXPECT_TRUE(file.endsWith("\r\n\r\nSubject: in the body\r\nTo: x@y.example\r\n\r\n\r\n")) << file.constData();
    EXPECT_TRUE(file.contains("\r\nSubject: \r\n"));
}

TEST(HandOff, StatisticsCountEveryCopy) {
    IntakeInstall bbs;
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "john.smith@bbs.example,darkstar@bbs.example"), SaveResult::Saved);
    ASSERT_EQ(bbs.HandOffs(), QStringList({"V1.D", "V2.D"}));
    EXPECT_EQ(bbs.stats.TotalReceived, 2);
    const float kb = float(bbs.HandOff(0).size() + bbs.HandOff(1).size()) / 1024.0f;
    EXPECT_FLOAT_EQ(bbs.stats.KBReceived, kb);
    EXPECT_EQ(bbs.statsUpdates, 2);
    // Each copy names its own recipient.
    EXPECT_TRUE(bbs.HandOff(1).contains("\tfor <darkstar@bbs.example>; "));
}

TEST(HandOff, BlankRecipientIsReportedAndSkipped) {
    IntakeInstall bbs;
    ASSERT_EQ(bbs.Save(Mail(kHeaders), " ,darkstar@bbs.example"), SaveResult::Saved);
    EXPECT_TRUE(bbs.Logged("Error - Blank Recipient Address: john.smith@bbs.example -- "));
    EXPECT_EQ(bbs.HandOffs().size(), 1);
}

TEST(HandOff, MissingTmpDirectoryIsCreated) {
    IntakeInstall bbs;
    ASSERT_TRUE(QDir(bbs.bbs.SpoolTmpDir()).removeRecursively());
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "john.smith@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(bbs.HandOffs(), QStringList{"V1.D"});
}

TEST(HandOff, LowestFreeNumberIsTakenAndExistingFilesStayUntouched) {
    IntakeInstall bbs;
    const QString tmp = bbs.bbs.SpoolTmpDir();
    ASSERT_TRUE(WriteFileAtomic(PathJoin(tmp, "V1.D"), "first"));
    ASSERT_TRUE(WriteFileAtomic(PathJoin(tmp, "v2.d"), "second, other case"));
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "john.smith@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(ReadFileBytes(PathJoin(tmp, "V1.D")), "first");
    EXPECT_EQ(ReadFileBytes(PathJoin(tmp, "v2.d")), "second, other case");
    EXPECT_TRUE(QFileInfo::exists(PathJoin(tmp, "V3.D")));
    // Nothing but the three message files: no temporary file is left behind.
    EXPECT_EQ(QDir(tmp).entryList(QDir::Files).size(), 3);
}

TEST(HandOff, FullSpoolAnswersLocalErrorAndWritesNothing) {
    IntakeInstall bbs;
    const QString tmp = bbs.bbs.SpoolTmpDir();
    for (int n = 1; n <= 1000; ++n) {
        QFile f(PathJoin(tmp, MessageFileName(n)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(bbs.Save(Mail(kHeaders), "john.smith@bbs.example"), SaveResult::LocalError);
    EXPECT_EQ(QDir(tmp).entryList(QDir::Files).size(), 1000);
    EXPECT_EQ(ReadFileBytes(PathJoin(tmp, "V1.D")), "");
    EXPECT_FALSE(QFileInfo::exists(PathJoin(tmp, "V0.D")));
    EXPECT_EQ(bbs.stats.TotalReceived, 0);
    // One free name: the first recipient's copy stays, the second gets none,
    // and the sender is told to try again.
    ASSERT_TRUE(QFile::remove(PathJoin(tmp, "V500.D")));
    EXPECT_EQ(bbs.Save(Mail(kHeaders), "john.smith@bbs.example,darkstar@bbs.example"), SaveResult::LocalError);
    EXPECT_TRUE(ReadFileBytes(PathJoin(tmp, "V500.D")).contains("for <john.smith@bbs.example>"));
    EXPECT_EQ(bbs.stats.TotalReceived, 1);
}

TEST(HandOff, SpoolThatCannotHoldFilesAnswersLocalError) {
    IntakeInstall bbs;
    // A plain file where the TMP directory belongs: neither creating the
    // directory nor writing into it can succeed, whatever the user's rights.
    const QString tmp = bbs.bbs.SpoolTmpDir();
    ASSERT_TRUE(QDir(tmp).removeRecursively());
    ASSERT_TRUE(WriteFileAtomic(tmp, "in the way"));
    EXPECT_EQ(bbs.Save(Mail(kHeaders), "john.smith@bbs.example"), SaveResult::LocalError);
    EXPECT_EQ(ReadFileBytes(tmp), "in the way");
    EXPECT_EQ(bbs.stats.TotalReceived, 0);
}

TEST(HandOff, ReceivedTextIsNeverChangedInPlace) {
    IntakeInstall bbs;
    // Bodies and tails are read where they lie when they need no change;
    // undoing the dots must work on a copy.
    const Text message = Mail(kHeaders, "..one\r\n...\r\n--b\r\nContent-Type: application/x\r\n\r\n..\r\n\r\n");
    const Text before(message.constData(), message.size());
    ASSERT_EQ(bbs.Save(message, "john.smith@bbs.example"), SaveResult::Saved);
    EXPECT_EQ(message, before);
    EXPECT_TRUE(
        bbs.HandOff().endsWith("\r\n\r\n.one\r\n..\r\n--b\r\n\r\nContent-Type: application/x\r\n\r\n..\r\n\r\n"));
}

TEST(HandOff, RecipientNamedTwiceGetsOneCopy) {
    IntakeInstall bbs;
    ASSERT_EQ(bbs.Save(Mail(kHeaders), "darkstar@bbs.example, DarkStar@BBS.example ,darkstar@bbs.example"),
              SaveResult::Saved);
    EXPECT_EQ(bbs.HandOffs(), QStringList{"V1.D"});
    EXPECT_EQ(bbs.stats.TotalReceived, 1);
}
