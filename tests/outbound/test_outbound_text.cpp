// The text steps of outbound delivery: header repair, envelope addresses,
// transparency, tracking headers, reply codes and the reply reader, and the
// return notice's text.
#include <gtest/gtest.h>
#include "server/outbound/OutboundText.h"
#include "server/outbound/ReplyCode.h"
#include "server/outbound/ReplyReader.h"
#include "server/outbound/ReturnMessage.h"
#include "server/outbound/SevenBit.h"
#include "server/store/Dates.h"
#include "server/store/Headers.h"

namespace {
const QDateTime kNow(QDate(2026, 12, 7), QTime(9, 30, 15));
Text Zone() { return GetTimeZoneOffset(kNow); }
}   // namespace

TEST(FixOutboundHeaders, GivesTheDateTheLocalZone) {
    const Text in = "From: a@b.example\r\nDate: Tue, 11 Jul 2006 19:35:37 -0500\r\n\r\nbody";
    const Text out = FixOutboundHeaders(in, kNow);
    EXPECT_EQ(GetHeaderField("Date", out), "Tue, 11 Jul 2006 19:35:37 " + Zone());
    EXPECT_TRUE(out.endsWith("\r\n\r\nbody"));
}

TEST(FixOutboundHeaders, CreatesAMissingDate) {
    const Text out = FixOutboundHeaders("From: a@b.example\r\nSubject: x\r\n\r\nbody", kNow);
    EXPECT_EQ(out, "Date: Mon, 07 Dec 2026 09:30:15 " + Zone() + "\r\nFrom: a@b.example\r\nSubject: x\r\n\r\nbody");
    EXPECT_EQ(GetHeaderField("Date", FixOutboundHeaders("Date:   \r\n\r\nb", kNow)),
              "Mon, 07 Dec 2026 09:30:15 " + Zone());
}

TEST(FixOutboundHeaders, RewritesTheDateInTheReceivedHeader) {
    const Text in =
        "Received: from 10.0.0.1\r\n\tby bbs.example; Tue, 11 Jul 2006 19:35:37 -0500\r\n"
        "Date: Tue, 11 Jul 2006 19:35:37 -0500\r\n\r\nbody";
    const Text out = FixOutboundHeaders(in, kNow);
    EXPECT_EQ(GetHeaderField("Received", out), "from 10.0.0.1 by bbs.example; Tue, 11 Jul 2006 19:35:37 " + Zone());
    // A Received header without the date is left alone.
    const Text other =
        "Received: from x; Mon, 10 Jul 2006 01:00:00 +0000\r\nDate: Tue, 11 Jul 2006 19:35:37 -0500\r\n\r\n";
    EXPECT_EQ(GetHeaderField("Received", FixOutboundHeaders(other, kNow)), "from x; Mon, 10 Jul 2006 01:00:00 +0000");
}

TEST(FixOutboundHeaders, IsIdempotent) {
    for (const Text& in : {Text("Received: from h; Tue, 11 Jul 2006 19:35:37 -0500\r\nDate: Tue, 11 Jul 2006 "
                                "19:35:37 -0500\r\n\r\nb"),
                           Text("Subject: none\r\n\r\nbody\r\n"), Text("Date: short\r\n\r\nx"),
                           Text("Date: Tue, 11 Jul 2006 19:35:37\r\n\r\nno zone")}) {
        const Text once = FixOutboundHeaders(in, kNow);
        EXPECT_EQ(FixOutboundHeaders(once, kNow), once) << in.constData();
    }
}

TEST(EnvelopeAddress, TakesTheBareAddress) {
    EXPECT_EQ(EnvelopeAddress("Bob Smith <bob@x.example>"), "bob@x.example");
    EXPECT_EQ(EnvelopeAddress("bob@x.example (Bob Smith)"), "bob@x.example");
    EXPECT_EQ(EnvelopeAddress("  bob@x.example  "), "bob@x.example");
    EXPECT_EQ(EnvelopeAddress("a@x.example b@y.example"), "a@x.example");
    EXPECT_EQ(EnvelopeAddress("a@x.example,b@y.example"), "a@x.example,b@y.example");
    EXPECT_EQ(EnvelopeAddress("nobody"), "");
    EXPECT_EQ(EnvelopeAddress("<@relay.example:bob@x.example>"), "bob@x.example");
}

TEST(Transparency, DoublesLeadingDotsOnly) {
    EXPECT_EQ(AddTransparencyDots(".a\r\nb.\r\n..c\r\n."), "..a\r\nb.\r\n...c\r\n..");
    EXPECT_EQ(AddTransparencyDots("no dots"), "no dots");
    // A bare line end is made a real one, so "\n.\r\n" cannot end the data early.
    EXPECT_EQ(AddTransparencyDots("x\n.\r\ny\r.z"), "x\r\n..\r\ny\r\n..z");
}

TEST(TrackingHeaders, RemovedFromWhatIsSent) {
    const Text in =
        "X-OSPRINE-Processed: 2026-12-07 09:00:00\r\nFrom: a@b.example\r\nX-OSPRINE-Attempts: 3\r\n"
        "X-OSPRINE-Status: RETURNED\r\n\r\nbody\r\n";
    EXPECT_EQ(RemoveTrackingHeaders(in), "From: a@b.example\r\n\r\nbody");
    EXPECT_TRUE(IsReturnedMessage(in));
    EXPECT_TRUE(IsReturnedMessage("x-osprine-status:   returned \r\n\r\n"));
    EXPECT_FALSE(IsReturnedMessage("X-OSPRINE-Status: RETURNED-NOT\r\n\r\n"));
    EXPECT_FALSE(IsReturnedMessage("Subject: x\r\n\r\nX-OSPRINE-Status: RETURNED\r\n"));
}

TEST(Attachment, SplitAtTheFirstApplicationPart) {
    const QueueText parts = SplitAttachment("To: a@b.c\r\n\r\nhi\r\nContent-Type: application/x\r\n\r\nQUJD\r\n");
    EXPECT_EQ(parts.message, "To: a@b.c\r\n\r\nhi");
    EXPECT_EQ(parts.attachment, "\r\nContent-Type: application/x\r\n\r\nQUJD\r\n");
    EXPECT_EQ(SplitAttachment("plain").attachment, "");
}

TEST(GetReplyCode, ReadsTheLeadingDigits) {
    EXPECT_EQ(GetReplyCode("250 OK", 0), 250);
    EXPECT_EQ(GetReplyCode("   451 busy", 1), 4);
    EXPECT_EQ(GetReplyCode("", 0), 0);
    EXPECT_EQ(GetReplyCode(" \r\n", 3), 0);
    EXPECT_EQ(GetReplyCode("hello 250", 0), 0);
    EXPECT_EQ(GetReplyCode("25x", 0), 25);
    EXPECT_EQ(GetReplyCode("250-first line", -4), 250);
    EXPECT_EQ(GetReplyCode("354", 10), 354);
    EXPECT_EQ(GetReplyCode("99999999999", 11), 32767);
    EXPECT_EQ(GetReplyCode("+25", 0), 0);
}

TEST(ReplyReader, WaitsForTheLineEnd) {
    ReplyReader r;
    EXPECT_FALSE(r.Append("250 O"));
    EXPECT_FALSE(r.Append("K\r"));
    EXPECT_EQ(r.Append("\n"), Text("250 OK"));
    EXPECT_EQ(r.Append("354 go\r\n"), Text("354 go"));
}

TEST(ReplyReader, JudgesAMultiLineReplyByItsFirstLine) {
    ReplyReader r;
    EXPECT_FALSE(r.Append("250-upstream.test\r\n250-SIZE 1000\r\n"));
    EXPECT_FALSE(r.Append("250-8BITMIME\r\n250"));
    EXPECT_EQ(r.Append(" HELP\r\n"), Text("250-upstream.test"));
    // What follows a finished reply in the same arrival is dropped.
    EXPECT_EQ(r.Append("250 OK\r\n250 extra\r\n"), Text("250 OK"));
    EXPECT_FALSE(r.Append("\r"));
    EXPECT_EQ(r.Append("\n"), Text(""));
}

TEST(ReplyReader, AnyOtherLineEndsAReply) {
    ReplyReader r;
    EXPECT_EQ(r.Append("hello there\r\n"), Text("hello there"));
    EXPECT_EQ(r.Append("250-a\r\nnot a continuation\r\n"), Text("250-a"));
}

TEST(ReplyReader, BoundsAnEndlessLine) {
    ReplyReader r;
    const Text chunk(16 * 1024, 'x');
    for (int i = 0; i < 5 && !r.Overflowed(); ++i) EXPECT_FALSE(r.Append(chunk));
    EXPECT_TRUE(r.Overflowed());
    EXPECT_FALSE(r.Append("250 OK\r\n"));
    r.Clear();
    EXPECT_EQ(r.Append("250 OK\r\n"), Text("250 OK"));
}

TEST(ReplyReader, EndlessContinuationsKeepOnlyTheFirstLine) {
    ReplyReader r;
    EXPECT_FALSE(r.Append("250-first\r\n"));
    const Text many = Text("250-more\r\n").repeated(20000);
    EXPECT_FALSE(r.Append(many));
    EXPECT_EQ(r.Append("250 last\r\n"), Text("250-first"));
}

TEST(ReturnNotice, QuotesTheBody) {
    EXPECT_EQ(GetMessageData("To: a@b.c\r\nSubject: s\r\n\r\nline one\r\n\r\nline two"), "line one\r\n\r\nline two");
    EXPECT_EQ(GetMessageData("To: a@b.c\r\nno empty line"), "");
    EXPECT_EQ(ReturnNoticeText("To: a@b.c\r\n\r\nHello\r\n"),
              "The following message was undeliverable.\r\n\r\n--- Original Message ---\r\nHello\r\n\r\n");
}

TEST(SevenBit, TopBitIsCleared) {
    EXPECT_EQ(ConvertTo7Bit("caf\xe9"), "cafi");
    EXPECT_EQ(ConvertTo7Bit(Text("\x80\xff\x7f", 3)), Text("\x00\x7f\x7f", 3));
    EXPECT_EQ(ConvertTo7Bit("  \t"), "  \t");
    EXPECT_EQ(ConvertTo7Bit(""), "");
}
