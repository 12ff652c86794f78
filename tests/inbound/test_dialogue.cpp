// The SMTP dialogue as a state machine: bytes in, replies out, on a real
// test BBS installation. The host stands in for the socket, the block-list
// test and the intake; their answers are given by each test.
#include "server/inbound/SmtpDialogue.h"
#include "tests/inbound/InboundFixture.h"

#include <optional>

namespace {

struct RecordingHost : DialogueHost {
    Text sent;
    bool ended = false;
    std::function<void(bool)> relayDone;
    std::optional<ReceivedMessage> saved;
    std::function<void(SaveResult)> saveDone;

    void SendMessage(const Text& text) override { sent += text; }
    void EndSession() override { ended = true; }
    void CheckRelayTest(std::function<void(bool)> done) override { relayDone = std::move(done); }
    void SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) override {
        saved = message;
        saveDone = std::move(done);
    }
};

class DialogueTest : public ::testing::Test {
protected:
    DialogueTest() { slot.Open(0, "127.0.0.1"); }

    // Sends bytes, answers what was replied to them.
    Text Send(const Text& bytes) {
        host.sent.clear();
        dialogue.Receive(bytes);
        return host.sent;
    }
    Text Say(const Text& line) { return Send(line + "\r\n"); }
    // A session up to DATA with one local recipient.
    void OpenTransaction() {
        Say("HELO client.example");
        Say("MAIL FROM:<sender@remote.example>");
        ASSERT_EQ(Say("RCPT TO:<john.smith@bbs.example>"), "250 Recipient \"john.smith@bbs.example\" OK...\r\n");
        ASSERT_EQ(Say("DATA"), "354 Begin data transfer. Mark the end of the transfer with <CRLF>.<CRLF>\r\n");
    }
    Text Finish(SaveResult result) {
        EXPECT_TRUE(host.saveDone);
        host.sent.clear();
        auto done = std::move(host.saveDone);
        host.saveDone = nullptr;
        done(result);
        return host.sent;
    }

    InboundInstall install;
    SessionSlot slot;
    RecordingHost host;
    SmtpDialogue dialogue{install.ctx, slot, 3, host};
};

TEST_F(DialogueTest, GreetingRepliesNameTheClientOrThePeer) {
    EXPECT_EQ(Say("helo client.example"), "250 Welcome 127.0.0.1, pleased to meet you.\r\n");
    EXPECT_EQ(Say("HELO"), "250 Welcome 127.0.0.1, pleased to meet you.\r\n");
    EXPECT_EQ(Say("EHLO  mail.example  "), "250 Welcome mail.example, pleased to meet you.\r\n");
    EXPECT_EQ(Say("EHLO"), "250 Welcome , pleased to meet you.\r\n");
    EXPECT_EQ(slot.DialogueState, SmtpState::Greeted);
}

TEST_F(DialogueTest, AWholeTransactionHandsTheMessageOnAndAnswersFromTheIntake) {
    OpenTransaction();
    EXPECT_EQ(slot.IdleTimeout, 600);
    EXPECT_EQ(Say("RCPT TO:<Mary.Jones@BBS.example>"), "");   // data now, not a command
    EXPECT_EQ(Send("Subject: hi\r\n..leading dot\r\n.\r\n"), "");
    ASSERT_TRUE(host.saved);
    EXPECT_EQ(host.saved->returnPath, "sender@remote.example");
    EXPECT_EQ(host.saved->recipients, "john.smith@bbs.example");
    EXPECT_EQ(host.saved->message, "RCPT TO:<Mary.Jones@BBS.example>\r\nSubject: hi\r\n..leading dot");
    EXPECT_EQ(host.saved->slot, 3);
    EXPECT_EQ(host.saved->sendingHost, "127.0.0.1");
    EXPECT_EQ(Finish(SaveResult::Saved), "250 Received data (60 bytes).\r\n");
    EXPECT_EQ(slot.DialogueState, SmtpState::Greeted);
    EXPECT_EQ(slot.IdleTimeout, 600);
    EXPECT_TRUE(slot.Sender.isEmpty() && slot.Recipients.isEmpty() && slot.Body.isEmpty());
    EXPECT_EQ(Say("MAIL FROM:<>"), "250 Sender \"\" OK...\r\n");
    EXPECT_EQ(slot.IdleTimeout, 120);
}

TEST_F(DialogueTest, TheIntakesOtherAnswers) {
    OpenTransaction();
    Send("x\r\n.\r\n");
    EXPECT_EQ(Finish(SaveResult::NotSaved), "250 Received data (1 bytes). Message was not saved.\r\n");
    Say("MAIL FROM:<a@b>");
    Say("RCPT TO:<john.smith@bbs.example>");
    Say("DATA");
    Send("x\r\n.\r\n");
    EXPECT_EQ(Finish(SaveResult::LocalError), "451 Requested action aborted: local error in processing.\r\n");
}

TEST_F(DialogueTest, RecipientsAreJoinedInOrderTwiceIfGivenTwice) {
    Say("HELO x");
    Say("MAIL FROM:<a@b>");
    Say("RCPT TO:<john.smith@bbs.example>");
    EXPECT_EQ(Say("RCPT TO:<postmaster@bbs.example>"), "250 Recipient \"postmaster@bbs.example\" OK...\r\n");
    Say("RCPT TO:<john.smith@bbs.example>");
    EXPECT_EQ(slot.Recipients, "john.smith@bbs.example,postmaster@bbs.example,john.smith@bbs.example");
}

TEST_F(DialogueTest, CommandsOutOfOrderGet503) {
    const Text bad = "503 Unexpected command or sequence of commands.\r\n";
    EXPECT_EQ(Say("MAIL FROM:<a@b>"), bad);
    EXPECT_EQ(Say("RCPT TO:<john.smith@bbs.example>"), bad);
    Say("HELO x");
    EXPECT_EQ(Say("RCPT TO:<john.smith@bbs.example>"), bad);
    EXPECT_EQ(Say("DATA"), bad);
    Say("MAIL FROM:<a@b>");
    EXPECT_EQ(Say("MAIL FROM:<a@b>"), bad);
    EXPECT_EQ(Say("DATA"), bad);
}

TEST_F(DialogueTest, RecipientRefusals) {
    Say("HELO x");
    Say("MAIL FROM:<a@b>");
    EXPECT_EQ(Say("RCPT TO:<john.smith@elsewhere.example>"), "550 Unknown user. (john.smith@elsewhere.example)\r\n");
    EXPECT_EQ(Say("RCPT TO:<nobody@bbs.example>"), "550 Unknown user. (nobody@bbs.example)\r\n");
    EXPECT_EQ(Say("RCPT TO:<>"), "550 Unknown user. ()\r\n");
    // Ann Lee lacks the Internet flag "I" of NETWORKS.LST.
    install.settings.CheckFlags = 1;
    EXPECT_EQ(Say("RCPT TO:<ann.lee@bbs.example>"),
              "550 User does not contain sufficient access. (ann.lee@bbs.example)\r\n");
    // A pass-through name needs no flag; a listed domain is local too.
    install.List("passthru", "ann.lee,0,0");
    install.List("domains", "second.example");
    EXPECT_EQ(Say("RCPT TO:<ann.lee@Second.Example>"), "250 Recipient \"ann.lee@Second.Example\" OK...\r\n");
    EXPECT_EQ(slot.ErrorCount, 0);
}

TEST_F(DialogueTest, AutoVerifyLearnsAUserNameAsAHandleInAnyState) {
    // Before HELO the command is refused, but the name is learned all the same.
    EXPECT_EQ(Say("RCPT TO:<Mary.Jones@anywhere.example>"), "503 Unexpected command or sequence of commands.\r\n");
    EXPECT_TRUE(ReadFileText(PathJoin(install.MainDir(), "HANDLES.UIP")).contains("mary.jones,3,"));
    install.settings.AutoVerify = 0;
    Say("HELO x");
    Say("MAIL FROM:<a@b>");
    EXPECT_EQ(Say("RCPT TO:<gina.brown@bbs.example>"), "550 Unknown user. (gina.brown@bbs.example)\r\n");
    EXPECT_EQ(Say("RCPT TO:<mary.jones@bbs.example>"), "250 Recipient \"mary.jones@bbs.example\" OK...\r\n");
}

TEST_F(DialogueTest, TheSixteenthRefusalInARowEndsTheSessionSilently) {
    Say("HELO x");
    Say("MAIL FROM:<a@b>");
    for (int i = 1; i <= 15; ++i)
        ASSERT_EQ(Say("RCPT TO:<nobody@bbs.example>"), "550 Unknown user. (nobody@bbs.example)\r\n") << i;
    EXPECT_FALSE(host.ended);
    EXPECT_EQ(Say("RCPT TO:<nobody@bbs.example>"), "");
    EXPECT_TRUE(host.ended);
    EXPECT_EQ(Say("NOOP"), "");   // nothing more is heard
}

TEST_F(DialogueTest, AnAcceptedCommandStartsTheCountAgain) {
    Say("HELO x");
    for (int i = 0; i < 15; ++i) Say("DATA");
    Say("NOOP");
    for (int i = 0; i < 15; ++i) ASSERT_FALSE(Say("DATA").isEmpty());
    EXPECT_FALSE(host.ended);
}

TEST_F(DialogueTest, TheFourthUnknownCommandInARowEndsTheSession) {
    EXPECT_EQ(Say("MAIL:"), "500 Unknown command.\r\n");   // extra characters match nothing
    EXPECT_EQ(Say("XYZZY now"), "500 Unknown command.\r\n");
    EXPECT_EQ(Say(""), "500 Unknown command.\r\n");
    EXPECT_EQ(Say("WHAT"), "");
    EXPECT_TRUE(host.ended);
}

TEST_F(DialogueTest, AnUnknownCommandAfterRefusalsCountsAfresh) {
    for (int i = 0; i < 12; ++i) Say("DATA");
    EXPECT_EQ(slot.ErrorCount, 22);
    EXPECT_EQ(Say("BOGUS"), "500 Unknown command.\r\n");
    EXPECT_EQ(slot.ErrorCount, 1);
    // VRFY and EXPN leave the count alone.
    install.settings.AllowVrfy = 0;
    EXPECT_EQ(Say("VRFY x"), "502 Not implemented.\r\n");
    EXPECT_EQ(Say("EXPN x"), "502 Not implemented.\r\n");
    EXPECT_EQ(slot.ErrorCount, 1);
}

TEST_F(DialogueTest, FixedReplies) {
    EXPECT_EQ(Say("help"), "211 Sorry, you are on your own.\r\n");
    EXPECT_EQ(Say("NOOP"), "250 OK.\r\n");
    EXPECT_EQ(Say("TURN"), "550 NOPE.\r\n");
    for (const char* c : {"SEND", "SOML", "SAML"}) EXPECT_EQ(Say(c), "502 Not implemented.\r\n") << c;
    EXPECT_FALSE(host.ended);
    EXPECT_EQ(Say("quit"), "221 Have a nice day!\r\n");
    EXPECT_TRUE(host.ended);
    EXPECT_EQ(slot.IdleTimeout, 60);
}

TEST_F(DialogueTest, RsetKeepsAnUngreetedSessionUngreeted) {
    EXPECT_EQ(Say("RSET"), "250 OK.\r\n");
    EXPECT_EQ(slot.DialogueState, SmtpState::Connected);
    Say("HELO x");
    Say("MAIL FROM:<a@b>");
    Say("RCPT TO:<john.smith@bbs.example>");
    EXPECT_EQ(Say("RSET"), "250 OK.\r\n");
    EXPECT_EQ(slot.DialogueState, SmtpState::Greeted);
    EXPECT_TRUE(slot.Sender.isEmpty() && slot.Recipients.isEmpty());
}

TEST_F(DialogueTest, VrfyNamesTheUserWithTheSystemId) {
    EXPECT_EQ(Say("VRFY  John Smith "), "250 John Smith <john.smith@bbs.example>\r\n");
    EXPECT_EQ(Say("VRFY darkstar"), "250 DarkStar <darkstar@bbs.example>\r\n");
    EXPECT_EQ(Say("VRFY Nobody Here"), "550 User not found.\r\n");
}

TEST_F(DialogueTest, ExpnListsTheMembersLineByLine) {
    EXPECT_EQ(Say("EXPN DEMO-LIST"), "502 Not implemented.\r\n");
    install.settings.AllowExpn = 1;
    EXPECT_EQ(Say("EXPN news-r"), "250-<sysop@bbs.example>\r\n250 <night.owl@bbs.example>\r\n");
    EXPECT_EQ(Say("EXPN nolist"), "550 Mailing list not found.\r\n");
    // A list without members has nothing to expand.
    WriteFileText(PathJoin(install.bbs.SpoolDir(), "LISTSERV.LST"), "EMPTY-LIST\r\n", false);
    EXPECT_EQ(Say("EXPN EMPTY-LIST"), "550 Mailing list not found.\r\n");
    const TextList log = install.LogTexts(3);
    EXPECT_TRUE(log.contains("<-- 250-<sysop@bbs.example>"));
    EXPECT_TRUE(log.contains("<-- 250 <night.owl@bbs.example>"));
}

TEST_F(DialogueTest, CommandsAndRepliesAreLoggedButDataIsNot) {
    OpenTransaction();
    Send("secret text\r\n.\r\n");
    Finish(SaveResult::Saved);
    const TextList expected = {
        "--> HELO client.example",
        "<-- 250 Welcome 127.0.0.1, pleased to meet you.",
        "--> MAIL FROM:<sender@remote.example>",
        "<-- 250 Sender \"sender@remote.example\" OK...",
        "--> RCPT TO:<john.smith@bbs.example>",
        "<-- 250 Recipient \"john.smith@bbs.example\" OK...",
        "--> DATA",
        "<-- 354 Begin data transfer. Mark the end of the transfer with <CRLF>.<CRLF>",
        "<-- 250 Received data (11 bytes).",
    };
    EXPECT_EQ(install.LogTexts(3), expected);
    EXPECT_EQ(install.WindowTexts().first(), "[3] --> HELO client.example");
}

TEST_F(DialogueTest, TextArrivingInPiecesWaitsForItsLineBreak) {
    EXPECT_EQ(Send("NO"), "");
    EXPECT_EQ(Send("OP"), "");
    EXPECT_EQ(Send("\r\n"), "250 OK.\r\n");
    EXPECT_EQ(Send("NOOP\n"), "250 OK.\r\n");
    // Every line is a command of its own with a reply of its own, however
    // the stream is cut.
    EXPECT_EQ(Send("NOOP now\r\nRSET\nNOOP\r\nNO"), "250 OK.\r\n250 OK.\r\n250 OK.\r\n");
    EXPECT_EQ(Send("OP\r\n"), "250 OK.\r\n");
}

// Line breaks in one write cannot smuggle header lines into a path: each
// line is a command. A CR or NUL inside a line, or a path longer than
// RFC 5321 allows, is a syntax error and counts as a refusal.
TEST_F(DialogueTest, NoCommandOrPathHoldsALineBreakOrNul) {
    Say("HELO x");
    EXPECT_EQ(Send("MAIL FROM:<:x\r\nTo: evil@bbs.example\r\nSubject: y@z>\r\n"),
              "250 Sender \"\" OK...\r\n500 Unknown command.\r\n500 Unknown command.\r\n");
    Say("RSET");
    const Text syntax = "501 Syntax error in parameters or arguments.\r\n";
    EXPECT_EQ(Say("MAIL FROM:<a\rTo: evil@bbs.example>"), syntax);
    EXPECT_EQ(Say(Text("MAIL FROM:<a@b\0c>", 18)), syntax);
    EXPECT_EQ(Say("MAIL FROM:<" + Text(257 - 10, 'a') + "@b.example>"), syntax);
    EXPECT_EQ(slot.ErrorCount, 13);
    EXPECT_EQ(Say("MAIL FROM:<" + Text(256 - 10, 'a') + "@b.example>").left(12), "250 Sender \"");
    EXPECT_EQ(Say("RCPT TO:<" + Text(257 - 12, 'j') + "@bbs.example>"), syntax);
    EXPECT_TRUE(install.LogTexts(3).contains("--> MAIL FROM:<a?To: evil@bbs.example>"));
}

TEST_F(DialogueTest, TheHundredAndFirstRecipientIsTooMany) {
    Say("HELO x");
    Say("MAIL FROM:<a@b.example>");
    for (int i = 0; i < 100; ++i) ASSERT_EQ(Say("RCPT TO:<john.smith@bbs.example>").left(3), "250");
    EXPECT_EQ(Say("RCPT TO:<john.smith@bbs.example>"), "452 Too many recipients.\r\n");
    EXPECT_EQ(Say("RCPT TO:<nobody@bbs.example>"), "452 Too many recipients.\r\n");
    EXPECT_EQ(slot.ErrorCount, 0);   // not refusals: no session end for them
    Say("RSET");
    Say("MAIL FROM:<a@b.example>");
    EXPECT_EQ(Say("RCPT TO:<john.smith@bbs.example>").left(3), "250");
}

TEST_F(DialogueTest, AnOverlongCommandLineEndsTheSession) {
    const Text longest(SmtpDialogue::kMaxLineLength, 'x');
    EXPECT_EQ(Say(longest), "500 Unknown command.\r\n");
    EXPECT_EQ(Send(longest), "");
    EXPECT_EQ(Send("y"), "500 Line too long.\r\n");
    EXPECT_TRUE(host.ended);
    EXPECT_TRUE(slot.LineBuffer.isEmpty());
}

TEST_F(DialogueTest, AnOverlongLineInOneBlockEndsTheSessionToo) {
    EXPECT_EQ(Say(Text(SmtpDialogue::kMaxLineLength + 1, 'x')), "500 Line too long.\r\n");
    EXPECT_TRUE(host.ended);
}

TEST_F(DialogueTest, ALoneDotAsTheFirstDataLineDoesNotEndTheData) {
    OpenTransaction();
    EXPECT_EQ(Send(".\r\n"), "");
    EXPECT_EQ(Send("more\r\n.\r\n"), "");
    ASSERT_TRUE(host.saved);
    EXPECT_EQ(host.saved->message, ".\r\nmore");
}

TEST_F(DialogueTest, TheEndMarkIsFoundWhereverThePiecesAreCut) {
    OpenTransaction();
    const Text text = "line one\r\nline two\r\n.\r\n";
    for (char c : text) {
        ASSERT_FALSE(host.saved);
        Send(Text(1, c));
    }
    ASSERT_TRUE(host.saved);
    EXPECT_EQ(host.saved->message, "line one\r\nline two");
}

TEST_F(DialogueTest, ALongLineArrivingByteByByteCostsLinearTime) {
    install.settings.MaxMailSize = 2 << 20;
    OpenTransaction();
    // A rescan per piece (10^12 steps) would not end within the test's time.
    const Text byte("x");
    for (int i = 0; i < 1000000; ++i) dialogue.Receive(byte);
    dialogue.Receive("\r\n.\r\n");
    ASSERT_TRUE(host.saved);
    EXPECT_EQ(host.saved->message.size(), 1000000);
}

// Only CR LF "." CR LF ends the data, wherever the stream is cut: a bare
// "." LF line is text, so commands smuggled behind it stay text too.
TEST_F(DialogueTest, OnlyCrLfDotCrLfEndsTheData) {
    OpenTransaction();
    Send("one\n");
    Send(".\n");
    Send("two\r\n.\nMAIL FROM:<x@y.example>\r\n");
    EXPECT_FALSE(host.saved);
    Send(".\r\n");
    ASSERT_TRUE(host.saved);
    EXPECT_EQ(host.saved->message, "one\n.\ntwo\r\n.\nMAIL FROM:<x@y.example>");
}

TEST_F(DialogueTest, ALineFeedInsideABlockIsKeptAsItCame) {
    // A bare LF is message text as it came, however the pieces were cut.
    OpenTransaction();
    Send("one\ntwo");
    Send("\r\nthree\nfour\n");
    Send("end\r\n.\r\n");
    ASSERT_TRUE(host.saved);
    EXPECT_EQ(host.saved->message, "one\ntwo\r\nthree\nfour\nend");
    EXPECT_EQ(Finish(SaveResult::Saved), "250 Received data (23 bytes).\r\n");
}

TEST_F(DialogueTest, TextDroppedAfterAnEndMarkDoesNotHideTheNextMessagesEnd) {
    OpenTransaction();
    Send("first\r\n.\r\nQUIT NOW, unended");
    Finish(SaveResult::Saved);
    host.saved.reset();
    Say("MAIL FROM:<a@b>");
    Say("RCPT TO:<john.smith@bbs.example>");
    Say("DATA");
    Send("x\r\n.\r\n");
    ASSERT_TRUE(host.saved);
    EXPECT_EQ(host.saved->message, "x");
}

TEST_F(DialogueTest, TextAfterTheEndMarkInTheSameBlockIsDropped) {
    OpenTransaction();
    EXPECT_EQ(Send("body\r\n.\r\nQUIT\r\n"), "");
    EXPECT_EQ(Finish(SaveResult::Saved), "250 Received data (4 bytes).\r\n");
    EXPECT_FALSE(host.ended);
    EXPECT_EQ(Say("NOOP"), "250 OK.\r\n");
}

TEST_F(DialogueTest, InputArrivingWhileTheIntakeWorksIsHandledAfterwardsInOrder) {
    OpenTransaction();
    Send("body\r\n.\r\n");
    EXPECT_TRUE(dialogue.Waiting());
    EXPECT_EQ(Say("MAIL FROM:<next@remote.example>"), "");
    EXPECT_EQ(Finish(SaveResult::Saved),
              "250 Received data (4 bytes).\r\n250 Sender \"next@remote.example\" OK...\r\n");
}

class DialogueSizeTest : public DialogueTest {
protected:
    // A message whose collected text with the end mark is `total` bytes.
    static Text Message(int total) { return Text(total - 5, 'm') + "\r\n.\r\n"; }
    void SetUp() override { install.settings.MaxMailSize = 1000; }
};

TEST_F(DialogueSizeTest, WithEsmtpADeclaredSizeAboveTheLimitIsRefusedAtMail) {
    install.List("esmtp", "1");
    EXPECT_EQ(Say("EHLO c"),
              "250-Welcome c, pleased to meet you.\r\n250-SIZE 1000\r\n250-8BITMIME\r\n250 PIPELINING\r\n");
    const Text tooBig = "552 Message size exceeds fixed maximum message size.\r\n";
    EXPECT_EQ(Say("MAIL FROM:<a@b> SIZE=1001"), tooBig);
    EXPECT_EQ(Say("MAIL FROM:<a@b> SIZE=99999999999999999999"), tooBig);   // beyond 64 bits
    EXPECT_EQ(Say("MAIL FROM:<a@b> SIZE=1x"), "555 MAIL FROM parameters not recognized.\r\n");
    EXPECT_EQ(Say("MAIL FROM:<a@b>  size=1000  body=8bitmime"), "250 Sender \"a@b\" OK...\r\n");
    Say("RSET");
    EXPECT_EQ(Say("HELO c"), "250 Welcome 127.0.0.1, pleased to meet you.\r\n");
    EXPECT_EQ(Say("MAIL FROM:<a@b> SIZE=5000"), "250 Sender \"a@b\" OK...\r\n");   // HELO: parameters not read
}

TEST_F(DialogueSizeTest, AMessageOfExactlyTheLimitIsAccepted) {
    OpenTransaction();
    Send(Message(1000));
    ASSERT_TRUE(host.saved);
    EXPECT_EQ(Finish(SaveResult::Saved), "250 Received data (995 bytes).\r\n");
}

TEST_F(DialogueSizeTest, OneMoreWithTheEndMarkInTheSameBlockIsNotSaved) {
    OpenTransaction();
    EXPECT_EQ(Send(Message(1001)), "552 Message has exceeded storage allocation. Message was not saved.\r\n");
    EXPECT_FALSE(host.saved);
    EXPECT_TRUE(host.ended);
}

TEST_F(DialogueSizeTest, OneMoreWhileDataIsArrivingIsAborted) {
    OpenTransaction();
    EXPECT_EQ(Send(Text(998, 'm') + "\r\n"), "");
    EXPECT_EQ(Send("x\r\n"), "552 Message has exceeded storage allocation. Message aborted.\r\n");
    EXPECT_TRUE(host.ended);
    EXPECT_TRUE(slot.Body.isEmpty());
    EXPECT_EQ(Send("\r\n.\r\n"), "");
    EXPECT_FALSE(host.saved);
}

TEST_F(DialogueSizeTest, TextWaitingForItsLineEndCountsTowardTheLimit) {
    OpenTransaction();
    EXPECT_EQ(Send(Text(1000, 'm')), "");
    EXPECT_EQ(Send("m"), "552 Message has exceeded storage allocation. Message aborted.\r\n");
    EXPECT_TRUE(slot.LineBuffer.isEmpty());
}

class DialogueRelayTest : public DialogueTest {
protected:
    void SetUp() override { install.settings.RelayEnable = 1; }
};

TEST_F(DialogueRelayTest, AListedClientIsToldAndTheSessionEnds) {
    EXPECT_EQ(Say("EHLO  spam.example "), "");
    ASSERT_TRUE(host.relayDone);
    EXPECT_TRUE(dialogue.Waiting());
    host.relayDone(false);
    EXPECT_EQ(host.sent, "421 spam.example is listed as an open relay. Ending session.\r\n");
    EXPECT_TRUE(host.ended);
    EXPECT_EQ(install.stats.BlockedRelays, 1);
}

TEST_F(DialogueRelayTest, APassedClientIsWelcomedAndTheTestRunsAtEveryGreeting) {
    Say("HELO x");
    host.relayDone(true);
    EXPECT_EQ(host.sent, "250 Welcome 127.0.0.1, pleased to meet you.\r\n");
    host.relayDone = nullptr;
    Say("EHLO y");
    EXPECT_TRUE(host.relayDone);
    EXPECT_EQ(install.stats.BlockedRelays, 0);
}

}   // namespace
