// The queue in a real test installation: order, preparation and rewrite,
// pacing, expiry with its return notice, and what the loader hands on.
#include "server/outbound/OutboundQueue.h"
#include "server/outbound/OutboundText.h"
#include "server/outbound/ReturnMessage.h"
#include "server/store/Dates.h"
#include "server/store/Headers.h"
#include "tests/outbound/OutboundFixture.h"

namespace {

class QueueTest : public ::testing::Test {
protected:
    QueueTest() : queue(b.ctx) {
        queue.SetClock([this] { return now; });
    }

    void SetUp() override { ASSERT_TRUE(b.Ready()) << "the test installation did not load"; }

    // The queue read afresh and loaded from the start, as a connection does.
    void LoadFirst() {
        queue.Refresh();
        queue.LoadOutboundMessage(0);
    }

    OutboundBbs b;
    OutboundQueue queue;
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0));
};

Text Tracked(const QDateTime& stamp, int attempts) {
    return "X-OSPRINE-Processed: " + GeneralDateText(stamp) + "\r\nX-OSPRINE-Attempts: " + NumText(attempts) + "\r\n";
}

}   // namespace

TEST_F(QueueTest, TakesFilesInNameOrder) {
    b.Put("V2.D", QueuedMessage("two@remote.example", "2"));
    b.Put("V10.D", QueuedMessage("ten@remote.example", "10"));
    b.Put("NOTES.TXT", "not queued");
    ASSERT_TRUE(QDir(b.Queue()).mkdir("V3.D"));   // a directory is no queue file
    // Nor is a link, which could lead outside the BBS.
    ASSERT_TRUE(QFile::link(b.bbs.Path("MAIN.CFG"), b.QueuePath("V4.D")));
    queue.Refresh();
    ASSERT_EQ(queue.Count(), 2);
    queue.LoadOutboundMessage(0);
    EXPECT_EQ(queue.CurrentFileName(), "V10.D");
    EXPECT_EQ(queue.Loaded().recipient, "ten@remote.example");
    EXPECT_FALSE(queue.AtLastPosition());
    queue.LoadOutboundMessage(1);
    EXPECT_EQ(queue.CurrentFileName(), "V2.D");
    EXPECT_TRUE(queue.AtLastPosition());
    queue.LoadOutboundMessage(2);
    EXPECT_TRUE(queue.Loaded().IsEmpty());
}

TEST_F(QueueTest, FirstPreparationStampsAndRewritesTheFile) {
    b.Put("V1.D", "  " + QueuedMessage("Far Away <far@remote.example>", "Caf\xe9 line\r\n.dot line\r\n\r\n\r\n"));
    // The file's time is when the BBS queued it: noted once, at the first try.
    QFile file(b.QueuePath("V1.D"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2026, 12, 6), QTime(8, 0, 0)), QFileDevice::FileModificationTime));
    file.close();
    LoadFirst();
    const Text queued = "X-OSPRINE-Queued: 2026-12-06 08:00:00\r\n";
    const Text zone = GetTimeZoneOffset(now);
    // The trace header in front, the tracking headers before the first other
    // line, the Date given the local zone, 7-bit lines, the single dot kept,
    // the trailing line ends gone.
    const Text headers =
        "From: Writer <writer@elsewhere.example>\r\nTo: Far Away <far@remote.example>\r\n"
        "Subject: Test\r\nDate: Tue, 11 Jul 2006 19:35:37 " +
        zone + "\r\n\r\nCafi line\r\n.dot line";
    const Text received =
        "Received: from 127.0.0.1\r\n\tby bbs.example (OSPRINE v1.4.060711)\r\n"
        "\tfor <far@remote.example>; Mon, 07 Dec 2026 09:30:00 " +
        zone + "\r\n";
    EXPECT_EQ(b.Get("V1.D"),
              received + "X-OSPRINE-Attempts: 1\r\nX-OSPRINE-Processed: 2026-12-07 09:30:00\r\n" + queued + headers);
    const LoadedMessage& m = queue.Loaded();
    EXPECT_EQ(m.text, b.Get("V1.D"));
    EXPECT_EQ(m.sender, kRemoteSender);
    EXPECT_EQ(m.recipient, "far@remote.example");
    EXPECT_EQ(b.Events(), TextList{"Processing message file: V1.D"});
    EXPECT_EQ(b.LogTexts(), TextList{"Processing message file: V1.D"});

    // The next preparation stamps and counts on in place and adds no second
    // trace header.
    now = now.addSecs(60);
    LoadFirst();
    EXPECT_EQ(b.Get("V1.D"),
              received + "X-OSPRINE-Attempts: 2\r\nX-OSPRINE-Processed: 2026-12-07 09:31:00\r\n" + queued + headers);
}

TEST_F(QueueTest, EnvelopeFromDisplayNamesAndComments) {
    b.Put("V1.D", "From: writer@elsewhere.example (The Writer)\r\nTo: \"Far, Away\" <far@remote.example>\r\n\r\nx");
    LoadFirst();
    EXPECT_EQ(queue.Loaded().sender, "writer@elsewhere.example");
    EXPECT_EQ(queue.Loaded().recipient, "far@remote.example");
}

TEST_F(QueueTest, PacesFromTheTenthAttempt) {
    b.Put("V1.D", QueuedMessage("a@remote.example", "a", Tracked(now.addSecs(-180), 10)));
    b.Put("V2.D", QueuedMessage("b@remote.example", "b", Tracked(now.addSecs(-60), 3)));
    b.Put("V3.D", QueuedMessage("c@remote.example", "c", Tracked(now.addSecs(-300), 10)));
    const Text waiting = b.Get("V1.D");
    LoadFirst();
    EXPECT_EQ(queue.CurrentFileName(), "V2.D");
    EXPECT_EQ(b.Get("V1.D"), waiting);   // a skipped file is not touched
    queue.LoadOutboundMessage(queue.Position() + 1);
    EXPECT_EQ(queue.CurrentFileName(), "V3.D");
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Attempts", b.Get("V3.D")), "11");
    EXPECT_EQ(b.Events(), (TextList{"Processing message file: V2.D", "Processing message file: V3.D"}));
}

TEST_F(QueueTest, NothingDueLoadsNothing) {
    b.Put("V1.D", QueuedMessage("a@remote.example", "a", Tracked(now.addSecs(-120), 12)));
    LoadFirst();
    EXPECT_TRUE(queue.Loaded().IsEmpty());
    EXPECT_TRUE(b.Events().isEmpty());
}

TEST_F(QueueTest, UnreadableStampIsDue) {
    b.Put("V1.D",
          QueuedMessage("a@remote.example", "a", "X-OSPRINE-Processed: sometime\r\nX-OSPRINE-Attempts: 40\r\n"));
    LoadFirst();
    EXPECT_FALSE(queue.Loaded().IsEmpty());
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Attempts", b.Get("V1.D")), "41");
    EXPECT_EQ(b.Get("V1.D").count("Received:"), 0);
}

TEST_F(QueueTest, ExpiredMessageIsReturnedAndEndsTheSearch) {
    b.Put("V1.D", QueuedMessage("gone@remote.example", "Original body\r\n", Tracked(now.addSecs(-48 * 3600), 30)));
    b.Put("V2.D", QueuedMessage("fresh@remote.example", "fresh"));
    LoadFirst();
    EXPECT_TRUE(queue.Loaded().IsEmpty());
    EXPECT_FALSE(b.Has("V1.D"));
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Processed", b.Get("V2.D")), "") << "the search ended at the return";

    // The notice, written while V1.D still existed, waits in the queue.
    ASSERT_EQ(b.Files(), (QStringList{"V2.D", "V3.D"}));
    const Text text = b.Get("V3.D");
    EXPECT_EQ(GetHeaderField("To", text), kRemoteSender);
    EXPECT_EQ(GetHeaderField("Subject", text), "Undeliverable Message");
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Status", text), "RETURNED");
    EXPECT_TRUE(
        text.contains("\r\n\r\nThe following message was undeliverable.\r\n\r\n--- Original Message ---\r\n"
                      "Original body\r\n"));
}

TEST_F(QueueTest, ExpiredReturnDisappearsWithoutNotice) {
    b.Put("V7.D",
          QueuedMessage("gone@remote.example", "x", "X-OSPRINE-Status:  Returned \r\n" + Tracked(now.addDays(-3), 50)));
    LoadFirst();
    EXPECT_TRUE(queue.Loaded().IsEmpty());
    EXPECT_TRUE(b.Files().isEmpty());
}

TEST_F(QueueTest, AttachmentTravelsUnchanged) {
    const Text attachment =
        "\r\nContent-Type: application/octect-stream; name=\"a.bin\"\r\n\r\n"
        "\xe9\xff raw\r\n.not a dot line\r\n";
    b.Put("V1.D", QueuedMessage("a@remote.example", "see attached") + attachment);
    LoadFirst();
    const Text stored = b.Get("V1.D");
    EXPECT_TRUE(stored.endsWith("see attached" + attachment));
    EXPECT_EQ(queue.Loaded().text, stored);
}

TEST_F(QueueTest, VanishedFileLoadsNothing) {
    b.Put("V1.D", QueuedMessage("a@remote.example", "a"));
    queue.Refresh();
    QFile::remove(b.QueuePath("V1.D"));
    queue.LoadOutboundMessage(0);
    EXPECT_TRUE(queue.Loaded().IsEmpty());
    EXPECT_TRUE(b.Files().isEmpty());
}

TEST_F(QueueTest, ExpiredMessageThatCannotBeReturnedIsPassedOver) {
    // The return looks for the trimmed name, which does not exist: the
    // message stays and must not hold up the files after it.
    b.Put(" V1.D", QueuedMessage("gone@remote.example", "x", Tracked(now.addDays(-3), 50)));
    b.Put("V2.D", QueuedMessage("fresh@remote.example", "fresh"));
    LoadFirst();
    EXPECT_EQ(queue.CurrentFileName(), "V2.D");
    EXPECT_EQ(queue.Loaded().recipient, "fresh@remote.example");
    EXPECT_EQ(b.Files(), (QStringList{" V1.D", "V2.D"}));
}

TEST_F(QueueTest, ReturnWritesTheNotice) {
    b.Put("V5.D", QueuedMessage("far@remote.example", "short line\r\n"));
    ReturnMessage(b.ctx, " V5.D ");
    ASSERT_EQ(b.Files(), QStringList{"V1.D"});
    const Text notice = b.Get("V1.D");
    const Text date = GetHeaderField("Date", notice);
    EXPECT_EQ(notice,
              "Message-ID: <V1@bbs.example>\r\n"
              "From: OSPRINE@bbs.example\r\n"
              "To: writer@elsewhere.example\r\n"
              "Subject: Undeliverable Message\r\n"
              "Date: " +
                  date +
                  "\r\n"
                  "X-Mailer: OSPRINE v1.4.060711\r\n"
                  "X-OSPRINE-Status: RETURNED\r\n"
                  "Organization: " +
                  b.config.main.BbsName +
                  "\r\n"
                  "MIME-Version: 1.0\r\n"
                  "Content-Type: text/plain; charset=us-ascii\r\n"
                  "Content-Transfer-Encoding: 7bit\r\n"
                  "\r\n"
                  "The following message was undeliverable.\r\n"
                  "\r\n"
                  "--- Original Message ---\r\n"
                  "short line\r\n"
                  "\r\n"
                  "\r\n");
    ReturnMessage(b.ctx, "V9999.D");   // gone already: nothing happens
    EXPECT_EQ(b.Files(), QStringList{"V1.D"});
}

TEST_F(QueueTest, ReturnQuotesTheWholeBodyWithItsAttachment) {
    const Text attachment = "\r\nContent-Type: application/octect-stream; name=\"a.bin\"\r\n\r\nQUJD\r\n";
    b.Put("V2.D", QueuedMessage("far@remote.example", "see attached") + attachment);
    b.Put("V3.D", "From: writer@elsewhere.example\r\nTo: far@remote.example\r\nSubject: no body");
    ReturnMessage(b.ctx, "V2.D");
    ReturnMessage(b.ctx, "V3.D");
    ASSERT_EQ(b.Files(), (QStringList{"V1.D", "V2.D"}));
    EXPECT_TRUE(b.Get("V1.D").endsWith("--- Original Message ---\r\nsee attached" + attachment + "\r\n\r\n"));
    // Without an empty line the quoted body is empty.
    EXPECT_TRUE(
        b.Get("V2.D").endsWith("\r\n\r\nThe following message was undeliverable.\r\n\r\n"
                               "--- Original Message ---\r\n\r\n\r\n"))
        << b.Get("V2.D").constData();
}

TEST_F(QueueTest, FullQueueStillTakesTheNotice) {
    // With all 1000 numbers taken the notice gets the returned message's own.
    for (int n = 1; n <= 1000; ++n) b.Put(QStringLiteral("V%1.D").arg(n), QueuedMessage("x@remote.example", "filler"));
    b.Put("V1.D", QueuedMessage("gone@remote.example", "Original body\r\n", Tracked(now.addSecs(-48 * 3600), 30)));
    LoadFirst();
    EXPECT_TRUE(queue.Loaded().IsEmpty());
    EXPECT_EQ(b.Files().size(), 1000);
    EXPECT_EQ(GetHeaderField("X-OSPRINE-Status", b.Get("V1.D")), "RETURNED") << b.Get("V1.D").constData();
    EXPECT_TRUE(b.Get("V1.D").contains("--- Original Message ---\r\nOriginal body\r\n"));
}
