// The pieces of the tosser and the reader: hand-off parsing, the record's
// date text, user lookup, sequence numbers and the batch writer.
#include "server/bbs/EmailRecord.h"
#include "server/bbs/UserRecord.h"
#include "server/store/Files.h"
#include "tools/mailbase/HandOffMessage.h"
#include "tools/mailbase/MailBatch.h"
#include "tools/mailbase/MailReader.h"
#include "tools/mailbase/UserTable.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

Text UserFile(const QList<std::pair<Text, int16_t>>& users) {
    Text file;
    for (const auto& [handle, level] : users) {
        UserRecord r;
        r.SetHandle(handle);
        r.SetSecurityLevel(level);
        file += r.Encode();
    }
    return file;
}

Text Int32Bytes(int32_t v) {
    Text b(4, '\0');
    qToLittleEndian<int32_t>(v, b.data());
    return b;
}

const QDateTime kNow(QDate(2026, 3, 4), QTime(5, 6, 7));

}   // namespace

TEST(HandOff, ReadsTheHeaderFieldsAndTheBodyWithoutTheTrailingEmptyLines) {
    const Text file =
        "Return-Path: <bounce@example.org>\r\n"
        "Received: from 127.0.0.1\r\n"
        "\tby bbs.example (OSPRINE v1.4.060711)\r\n"
        "\tfor <john.smith@bbs.example>; Tue, 11 Jul 2006 19:35:37 +0200\r\n"
        "From: Alice Example <Alice@Example.org>\r\n"
        "To: \"John\" <john.smith@bbs.example>\r\n"
        "Subject:   Greetings  \r\n"
        "Date: Tue, 11 Jul 2006 19:35:37 +0200\r\n"
        "\r\n"
        "Line one\r\n"
        "\r\n"
        "Line three\r\n"
        "\r\n"
        "\r\n";
    const HandOffMessage m = ParseHandOff(file);
    EXPECT_EQ(m.to, "john.smith@bbs.example");
    EXPECT_EQ(m.from, "Alice@Example.org");
    EXPECT_EQ(m.subject, "Greetings");
    EXPECT_EQ(m.date, "Tue, 11 Jul 2006 19:35:37 +0200");
    EXPECT_EQ(m.body, "Line one\r\n\r\nLine three\r\n");
}

TEST(HandOff, BareLineEndsMissingFromAndNoBody) {
    const HandOffMessage lf = ParseHandOff("Return-Path: <r@x.org>\nTo: 7\nSubject: s\n\nA\nB\n");
    EXPECT_EQ(lf.from, "r@x.org");   // no From: the return path
    EXPECT_EQ(lf.to, "7");           // a bare user number
    EXPECT_EQ(lf.body, "A\r\nB\r\n");

    const HandOffMessage headersOnly = ParseHandOff("To: a@b.c\r\nSubject: none");
    EXPECT_EQ(headersOnly.subject, "none");
    EXPECT_TRUE(headersOnly.body.isEmpty());

    const HandOffMessage noHeaders = ParseHandOff("\r\njust text\r\n");
    EXPECT_TRUE(noHeaders.to.isEmpty());
    EXPECT_EQ(noHeaders.body, "just text\r\n");
    EXPECT_TRUE(ParseHandOff("").body.isEmpty());
}

TEST(EmailDate, RearrangesTheHeaderDateByPosition) {
    EXPECT_EQ(EmailDateText("Tue, 11 Jul 2006 19:35:37 +0200", kNow), "Tue Jul 11, 2006 19:35:37 +0200");
    EXPECT_EQ(EmailDateText("  Wed, 01 Feb 2023 01:02:03 -0500  ", kNow), "Wed Feb 01, 2023 01:02:03 -0500");
    // Missing parts come from now; a missing zone is "0".
    EXPECT_EQ(EmailDateText("Tue, 11 Jul 2006", kNow), "Tue Jul 11, 2006 05:06:07 0");
    EXPECT_EQ(EmailDateText("", kNow), " 03 04, 2026 05:06:07 0");
    EXPECT_LE(EmailDateText(Text(500, 'x'), kNow).size(), 40);
}

TEST(UserTable, FindsHandlesNamesAndNumbers) {
    const Text users = UserFile({{"Sysop", 255}, {"John Smith", 50}, {"", 50}, {"Locked Out", 0}, {"DarkStar", 20}});
    const Text index = "system-daemon,SYSTEM-DAEMON,1,1\r\njsmith,2,1,1\r\nghost,3,1,1\r\nfar,99,1,1\r\n";
    const UserTable t = UserTable::FromBytes(users + Text(100, 'x'), index);   // a torn tail is no user
    EXPECT_EQ(t.Count(), 5);
    EXPECT_EQ(t.Find("john.smith"), 2);
    EXPECT_EQ(t.Find(" JOHN SMITH "), 2);
    EXPECT_EQ(t.Find("jsmith"), 2);   // handle learned by the server
    EXPECT_EQ(t.Find("darkstar"), 5);
    EXPECT_EQ(t.Find("locked.out"), 4);   // level 0 still has a mailbox
    EXPECT_EQ(t.Find("5"), 5);
    EXPECT_EQ(t.Find("ghost"), 0);   // index line of the deleted record
    EXPECT_EQ(t.Find("far"), 0);     // index line beyond the file
    EXPECT_EQ(t.Find("3"), 0);       // the deleted record
    EXPECT_EQ(t.Find("6"), 0);
    EXPECT_EQ(t.Find("system-daemon"), 0);
    EXPECT_EQ(t.Handle(2), "John Smith");

    EXPECT_EQ(t.Recipient("John.Smith@bbs.example"), 2);
    EXPECT_EQ(t.Recipient("<2@bbs.example>"), 2);
    EXPECT_EQ(t.Recipient("postmaster@bbs.example"), 1);
    EXPECT_EQ(t.Recipient(""), 1);
    EXPECT_EQ(UserTable::FromBytes({}, {}).Recipient("anyone@x"), 1);
}

TEST(SeqNums, ContinueTheStoredNumberAndWrapAfter3999999) {
    QTemporaryDir dir;
    QString error;
    EXPECT_EQ(ReserveSeqNums(dir.path(), 2, &error), (QList<int32_t>{2, 3}));   // a new file starts at 1
    EXPECT_EQ(ReadFileBytes(PathJoin(dir.path(), "DBSEQ.DAT")), Int32Bytes(3));
    ASSERT_TRUE(WriteFileAtomic(PathJoin(dir.path(), "DBSEQ.DAT"), Int32Bytes(3999998)));
    EXPECT_EQ(ReserveSeqNums(dir.path(), 3, &error), (QList<int32_t>{3999999, 1, 2}));
    EXPECT_EQ(ReadFileBytes(PathJoin(dir.path(), "DBSEQ.DAT")), Int32Bytes(2));
    EXPECT_TRUE(error.isEmpty());
}

TEST(MailBatch, AppendsBodiesThenRecordsOverATornRecord) {
    QTemporaryDir dir;
    ASSERT_TRUE(WriteFileAtomic(EmailBinPath(dir.path()), "old\r\n"));
    ASSERT_TRUE(WriteFileAtomic(EmailDatPath(dir.path()), Text(kEmailRecordSize, 'A') + Text(100, 'B')));
    HandOffMessage m{"sysop@bbs.example", "Bob@Example.ORG", "Hi", "Tue, 11 Jul 2006 19:35:37 +0200", "one\r\n"};
    QList<NewMail> batch{{MakeEmailRecord(m, 1, "Sysop", "1", kNow), m.body},
                         {MakeEmailRecord(m, 2, "John", "1", kNow), "two two\r\n"}};
    QString error;
    ASSERT_TRUE(WriteMailBatch(dir.path(), batch, &error)) << error.toStdString();

    EXPECT_EQ(ReadFileBytes(EmailBinPath(dir.path())), "old\r\none\r\n\r\ntwo two\r\n\r\n");
    const Text dat = ReadFileBytes(EmailDatPath(dir.path()));
    ASSERT_EQ(dat.size(), 3 * kEmailRecordSize);
    const Text first = dat.mid(kEmailRecordSize, kEmailRecordSize);
    EXPECT_EQ(qFromLittleEndian<int32_t>(first.constData() + 4), 1);
    EXPECT_EQ(first.mid(8, 40), StrPad("bob", 40));
    EXPECT_EQ(first.mid(48, 40), StrPad("Sysop", 40));
    EXPECT_EQ(first.mid(88, 80), StrPad("example.org", 80));
    EXPECT_EQ(first.mid(168, 80), StrPad("1", 80));
    EXPECT_EQ(qFromLittleEndian<int16_t>(first.constData() + 248), 9);
    EXPECT_EQ(qFromLittleEndian<int16_t>(first.constData() + 250), 1);
    EXPECT_EQ(qFromLittleEndian<int32_t>(first.constData() + 252), LocalEpochSeconds(kNow));
    EXPECT_EQ(first.mid(268, 64), StrPad("Hi", 64));
    EXPECT_EQ(first.mid(334, 40), StrPad("Tue Jul 11, 2006 19:35:37 +0200", 40));
    EXPECT_EQ(first.mid(470, 8), "EMAIL   ");
    EXPECT_EQ(qFromLittleEndian<int32_t>(first.constData() + 478), 6);   // after "old" CR LF
    EXPECT_EQ(qFromLittleEndian<int32_t>(first.constData() + 482), 5);
    EXPECT_EQ(qFromLittleEndian<int16_t>(first.constData() + 486), 0);
    const Text second = dat.mid(2 * kEmailRecordSize);
    EXPECT_EQ(qFromLittleEndian<int32_t>(second.constData() + 478), 13);   // 6 + 5 + CR LF
    EXPECT_EQ(qFromLittleEndian<int32_t>(second.constData() + 482), 9);
}

TEST(MailReader, ListsOneUsersMailAndSurvivesBadBodyPointers) {
    QTemporaryDir dir;
    EmailRecord mine, other, broken;
    mine.ToUserNumber = 3;
    mine.Subject = "mine";
    mine.BodyPosition = 1;
    mine.BodyLength = 4;
    other.ToUserNumber = 4;
    broken.ToUserNumber = 3;
    broken.Subject = "broken";
    broken.BodyPosition = 1000;
    broken.BodyLength = 10;
    ASSERT_TRUE(WriteFileAtomic(EmailDatPath(dir.path()), EncodeEmailRecord(mine) + EncodeEmailRecord(other) +
                                                              EncodeEmailRecord(broken) + "torn"));
    ASSERT_TRUE(WriteFileAtomic(EmailBinPath(dir.path()), "body\r\n"));
    const QList<EmailEntry> mail = ReadUserMail(dir.path(), 3, true);
    ASSERT_EQ(mail.size(), 2);
    EXPECT_EQ(mail[0].record.Subject, "mine");
    EXPECT_EQ(mail[0].body, "body");
    EXPECT_EQ(mail[1].record.Subject, "broken");
    EXPECT_TRUE(mail[1].body.isEmpty());
    EXPECT_TRUE(ReadUserMail(dir.path(), 3, false)[0].body.isEmpty());
}
