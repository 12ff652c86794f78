// Forwarding destinations: the BBS e-mail base (network 0), another
// network's spool, and the outbound queue (network 9).
#include "server/bbs/EmailRecord.h"
#include "server/intake/EmailBaseWriter.h"
#include "tests/intake/IntakeFixture.h"

#include <QtEndian>

namespace {
const Text kMessage =
    "From: Alice <Alice@Remote.Example>\r\nTo: x@bbs.example\r\nSubject:  Hello there \r\n"
    "Date: Tue, 11 Jul 2006 19:35:37 +0200\r\n\r\nFirst line\r\n\r\nLast line\r\n";
}

TEST(WriteMessage, NetworkZeroFillsEveryFieldOfTheLocalRecord) {
    IntakeInstall bbs;
    const QDateTime before = QDateTime::currentDateTime();
    ASSERT_TRUE(WriteMessage(bbs.ctx, 0, " DarkStar@anything.example ", kMessage, 3));
    const QDateTime after = QDateTime::currentDateTime();
    const QList<EmailEntry> mail = ReadEmailBase(bbs.bbs.MessageDir());
    ASSERT_EQ(mail.size(), 1);
    const EmailRecord& r = mail[0].record;
    EXPECT_EQ(r.Reserved0, 0);
    EXPECT_EQ(r.ToUserNumber, 4);
    EXPECT_EQ(r.FromUser, "alice");
    EXPECT_EQ(r.ToUser, "darkstar");
    EXPECT_EQ(r.FromSystem, "remote.example");
    EXPECT_EQ(r.ToSystem, "1");
    EXPECT_EQ(r.Kind, 9);
    EXPECT_EQ(r.Network, 1);
    EXPECT_GE(r.TimeWritten, LocalTimeWritten(before));
    EXPECT_LE(r.TimeWritten, LocalTimeWritten(after));
    EXPECT_EQ(r.SeqNum, 2);
    EXPECT_EQ(r.Reserved260, 0);
    EXPECT_EQ(r.Reserved264, 0);
    EXPECT_EQ(r.Subject, "Hello there");
    EXPECT_EQ(r.Reserved332, 0);
    EXPECT_EQ(r.DateText, "Tue Jul 11, 2006 19:35:37 +0200");
    EXPECT_EQ(r.Reserved374 | r.Reserved378 | r.Reserved488 | r.Reserved490, 0);
    EXPECT_EQ(r.Text382 + r.Text394 + r.Text494 + r.Text518, "");
    EXPECT_EQ(r.Zero458, QByteArray(12, '\0'));
    EXPECT_EQ(r.BaseName, "EMAIL");
    EXPECT_EQ(r.BodyPosition, 1);
    EXPECT_EQ(r.BodyLength, 25);
    EXPECT_EQ(r.ParsedNetwork, 0);
    EXPECT_EQ(mail[0].body, "First line\r\n\r\nLast line\r\n");
    EXPECT_EQ(ReadFileBytes(EmailBinPath(bbs.bbs.MessageDir())), "First line\r\n\r\nLast line\r\n\r\n");
    EXPECT_TRUE(bbs.Logged("Email forwarded to: darkstar"));
    // The BBS's counters of written mail.
    const Text stat = ReadFileBytes(PathJoin(bbs.bbs.DataDir(), "STATZRBS.DAT"));
    ASSERT_EQ(stat.size(), 88);
    EXPECT_EQ(qFromLittleEndian<int32_t>(stat.constData() + 68), 1);
    EXPECT_EQ(qFromLittleEndian<int32_t>(stat.constData() + 72), 1);
}

TEST(WriteMessage, NumericUserBecomesThatUsersNameAndSecondBodyFollowsTheFirst) {
    IntakeInstall bbs;
    ASSERT_TRUE(WriteMessage(bbs.ctx, 0, "3", kMessage, 1));
    ASSERT_TRUE(WriteMessage(bbs.ctx, 0, "12@x", kMessage, 1));
    const QList<EmailEntry> mail = ReadEmailBase(bbs.bbs.MessageDir());
    ASSERT_EQ(mail.size(), 2);
    EXPECT_EQ(mail[0].record.ToUser, "Mary Jones");
    EXPECT_EQ(mail[0].record.ToUserNumber, 3);
    EXPECT_EQ(mail[1].record.ToUser, "Frank Miller");
    EXPECT_EQ(mail[1].record.ToUserNumber, 12);
    EXPECT_EQ(mail[1].record.BodyPosition, 25 + 2 + 1);
    EXPECT_EQ(mail[1].record.SeqNum, 3);
}

TEST(WriteMessage, OtherNetworkGoesToTheSpool) {
    IntakeInstall bbs;
    ASSERT_TRUE(WriteMessage(bbs.ctx, 0, "Sysop@1:100/1*4", kMessage, 2));
    EXPECT_TRUE(ReadEmailBase(bbs.bbs.MessageDir()).isEmpty());
    const QList<EmailEntry> spool = ReadSpoolNet(bbs.bbs.DataDir());
    ASSERT_EQ(spool.size(), 1);
    const EmailRecord& r = spool[0].record;
    EXPECT_EQ(r.ToUser, "sysop");
    EXPECT_EQ(r.ToSystem, "1:100/1");
    EXPECT_EQ(r.ToUserNumber, 0);
    EXPECT_EQ(r.Network, 4);
    EXPECT_EQ(r.ParsedNetwork, 4);
    EXPECT_EQ(r.BodyPosition, 0);
    EXPECT_EQ(spool[0].body, "First line\r\n\r\nLast line\r\n");
    EXPECT_EQ(FileLength(SpoolNetPath(bbs.bbs.DataDir())), 582 + 25);
    EXPECT_TRUE(bbs.Logged("Email forwarded to: sysop@1:100/1*4"));
    EXPECT_EQ(qFromLittleEndian<int32_t>(ReadFileBytes(PathJoin(bbs.bbs.DataDir(), "STATZRBS.DAT")).constData() + 68),
              1);
}

TEST(WriteMessage, NetworkNineQueuesWithTheNewToAndLeavesTheBaseAlone) {
    IntakeInstall bbs;
    ASSERT_TRUE(WriteMessage(bbs.ctx, 0, "bob@far.example*9", kMessage, 2));
    ASSERT_EQ(bbs.QueueFiles(), QStringList{"V1.D"});
    EXPECT_EQ(ReadFileBytes(PathJoin(bbs.bbs.QueueDir(), "V1.D")),
              "From: Alice <Alice@Remote.Example>\r\nTo: <bob@far.example>\r\nSubject:  Hello there \r\n"
              "Date: Tue, 11 Jul 2006 19:35:37 +0200\r\n\r\nFirst line\r\n\r\nLast line\r\n");
    EXPECT_TRUE(bbs.Logged("Email forwarded to: bob@far.example"));
    EXPECT_FALSE(QFileInfo::exists(EmailDatPath(bbs.bbs.MessageDir())));
    EXPECT_FALSE(QFileInfo::exists(PathJoin(bbs.bbs.DataDir(), "STATZRBS.DAT")));
}

TEST(WriteMessage, FullQueueIsALocalFaultAndNeverWritesNumberZero) {
    IntakeInstall bbs;
    for (int n = 1; n <= 1000; ++n) {
        QFile f(PathJoin(bbs.bbs.QueueDir(), MessageFileName(n)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_FALSE(WriteMessage(bbs.ctx, 0, "bob@far.example*9", kMessage, 2));
    EXPECT_FALSE(QFileInfo::exists(PathJoin(bbs.bbs.QueueDir(), "V0.D")));
    EXPECT_EQ(FileLength(PathJoin(bbs.bbs.QueueDir(), "V1.D")), 0);
}

TEST(WriteMessage, MessageWithoutSenderSubjectOrDateIsSilentlyDropped) {
    IntakeInstall bbs;
    const Text noSubject = "From: a@b.example\r\nDate: Tue, 11 Jul 2006 19:35:37 +0200\r\n\r\nx\r\n";
    const Text noDate = "From: a@b.example\r\nSubject: s\r\n\r\nx\r\n";
    const Text noDomain = "From: alice\r\nSubject: s\r\nDate: Tue, 11 Jul 2006 19:35:37 +0200\r\n\r\nx\r\n";
    for (const Text& m : {noSubject, noDate, noDomain}) EXPECT_TRUE(WriteMessage(bbs.ctx, 0, "darkstar", m, 1));
    EXPECT_TRUE(WriteMessage(bbs.ctx, 0, "", kMessage, 1));
    EXPECT_TRUE(WriteMessage(bbs.ctx, 0, "@x*3", kMessage, 1));
    EXPECT_FALSE(QFileInfo::exists(EmailDatPath(bbs.bbs.MessageDir())));
    EXPECT_FALSE(QFileInfo::exists(SpoolNetPath(bbs.bbs.DataDir())));
    EXPECT_TRUE(bbs.window.isEmpty());
}

TEST(ForwardAddress, PartsAndDefaults) {
    IntakeInstall bbs;
    const ForwardAddress a = ParseForwardAddress(bbs.ctx, " Bob @ Far.Example * 9 ");
    EXPECT_EQ(a.user, "bob");
    EXPECT_EQ(a.system, "far.example");
    EXPECT_EQ(a.network, 9);
    const ForwardAddress b = ParseForwardAddress(bbs.ctx, "bob@far.example");
    EXPECT_EQ(b.system, "0");
    EXPECT_EQ(b.network, 0);
    EXPECT_EQ(ParseForwardAddress(bbs.ctx, "x@y*7abc").network, 7);
}

TEST(DateText, FixedPositionsAndFallbacks) {
    const QDateTime now(QDate(2026, 3, 4), QTime(5, 6, 7));
    EXPECT_EQ(NormaliseDateText("Tue, 11 Jul 2006 19:35:37 +0200", now), "Tue Jul 11, 2006 19:35:37 +0200");
    EXPECT_EQ(NormaliseDateText(" Tue, 11 Jul 2006 19:35:37 ", now), "Tue Jul 11, 2006 19:35:37 0");
    // A one-digit day shifts every position; the parts are taken as they fall.
    EXPECT_EQ(NormaliseDateText("Tue, 1 Jul 2006 19:35:37 +0200", now), "Tue ul 1, 006 9::5::7 0200");
    EXPECT_EQ(NormaliseDateText("Tuesday", now), "Tue 03 04, 2026 05:06:07 0");
    EXPECT_EQ(NormaliseDateText("", now), " 03 04, 2026 05:06:07 0");
}

TEST(EmailBody, LinesAfterTheFirstEmptyLine) {
    EXPECT_EQ(EmailBody("H: v\r\n\r\nbody"), "body\r\n");
    EXPECT_EQ(EmailBody("H: v\n\nbody\n\nmore\n"), "body\r\n\r\nmore\r\n");
    EXPECT_EQ(EmailBody("\r\nonly body\r\n"), "only body\r\n");
    EXPECT_EQ(EmailBody("H: v\r\nno body\r\n"), "");
}
