// The e-mail record of the BBS e-mail base and its files: every field at its
// offset, the order of the writes, the sequence counter and the statistics.
#include "server/bbs/EmailRecord.h"
#include "server/store/Files.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

int32_t Int32At(const Text& b, int offset) { return qFromLittleEndian<int32_t>(b.constData() + offset); }
int16_t Int16At(const Text& b, int offset) { return qFromLittleEndian<int16_t>(b.constData() + offset); }

EmailRecord Sample() {
    EmailRecord r;
    r.Reserved0 = 0x01020304;
    r.ToUserNumber = 4;
    r.FromUser = "alice";
    r.ToUser = "darkstar";
    r.FromSystem = "remote.example";
    r.ToSystem = "1";
    r.Network = 1;
    r.TimeWritten = 1152646537;
    r.SeqNum = 77;
    r.Reserved260 = 260;
    r.Reserved264 = 264;
    r.Subject = "Hi";
    r.Reserved332 = 332;
    r.DateText = "Tue Jul 11, 2006 19:35:37 +0200";
    r.Reserved374 = 374;
    r.Reserved378 = 378;
    r.Text382 = "t382";
    r.Text394 = "t394";
    r.Zero458 = QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c", 12);
    r.BodyPosition = 1;
    r.BodyLength = 9;
    r.ParsedNetwork = -2;
    r.Reserved488 = 488;
    r.Reserved490 = 490;
    r.Text494 = "t494";
    r.Text518 = "t518";
    return r;
}

}   // namespace

TEST(EmailRecord, EveryFieldSitsAtItsOffset) {
    const Text b = EncodeEmailRecord(Sample());
    ASSERT_EQ(b.size(), 582);
    EXPECT_EQ(Int32At(b, 0), 0x01020304);
    EXPECT_EQ(Int32At(b, 4), 4);
    EXPECT_EQ(b.mid(8, 40), Text("alice").leftJustified(40, ' '));
    EXPECT_EQ(b.mid(48, 40), Text("darkstar").leftJustified(40, ' '));
    EXPECT_EQ(b.mid(88, 80), Text("remote.example").leftJustified(80, ' '));
    EXPECT_EQ(b.mid(168, 80), Text("1").leftJustified(80, ' '));
    EXPECT_EQ(Int16At(b, 248), 9);
    EXPECT_EQ(Int16At(b, 250), 1);
    EXPECT_EQ(Int32At(b, 252), 1152646537);
    EXPECT_EQ(Int32At(b, 256), 77);
    EXPECT_EQ(Int32At(b, 260), 260);
    EXPECT_EQ(Int32At(b, 264), 264);
    EXPECT_EQ(b.mid(268, 64), Text("Hi").leftJustified(64, ' '));
    EXPECT_EQ(Int16At(b, 332), 332);
    EXPECT_EQ(b.mid(334, 40), Text("Tue Jul 11, 2006 19:35:37 +0200").leftJustified(40, ' '));
    EXPECT_EQ(Int32At(b, 374), 374);
    EXPECT_EQ(Int32At(b, 378), 378);
    EXPECT_EQ(b.mid(382, 12), Text("t382").leftJustified(12, ' '));
    EXPECT_EQ(b.mid(394, 64), Text("t394").leftJustified(64, ' '));
    EXPECT_EQ(b.mid(458, 12), QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c", 12));
    EXPECT_EQ(b.mid(470, 8), "EMAIL   ");
    EXPECT_EQ(Int32At(b, 478), 1);
    EXPECT_EQ(Int32At(b, 482), 9);
    EXPECT_EQ(Int16At(b, 486), -2);
    EXPECT_EQ(Int16At(b, 488), 488);
    EXPECT_EQ(Int32At(b, 490), 490);
    EXPECT_EQ(b.mid(494, 24), Text("t494").leftJustified(24, ' '));
    EXPECT_EQ(b.mid(518, 64), Text("t518").leftJustified(64, ' '));
}

TEST(EmailRecord, DefaultsAreTheWrittenConstantsAndLongTextIsCut) {
    EmailRecord r;
    r.Subject = Text(70, 's');
    const Text b = EncodeEmailRecord(r);
    EXPECT_EQ(Int16At(b, 248), 9);
    EXPECT_EQ(b.mid(458, 12), QByteArray(12, '\0'));
    EXPECT_EQ(b.mid(268, 64), Text(64, 's'));
    EXPECT_EQ(b.mid(382, 12), Text(12, ' '));
    EXPECT_EQ(b.mid(470, 8), "EMAIL   ");
}

TEST(EmailRecord, DecodeReadsBackWhatWasWritten) {
    EmailRecord back;
    ASSERT_TRUE(DecodeEmailRecord(EncodeEmailRecord(Sample()), back));
    EXPECT_EQ(EncodeEmailRecord(back), EncodeEmailRecord(Sample()));
    EXPECT_EQ(back.FromSystem, "remote.example");
    EXPECT_FALSE(DecodeEmailRecord(Text(581, ' '), back));
}

TEST(EmailBase, BodiesArePlacedOneAfterAnotherAndRecordsNumberedOn) {
    QTemporaryDir dir;
    EmailRecord first = Sample(), second = Sample();
    ASSERT_TRUE(AppendToEmailBase(dir.path(), first, "First body\r\n"));
    ASSERT_TRUE(AppendToEmailBase(dir.path(), second, "Second\r\n"));
    EXPECT_EQ(first.BodyPosition, 1);
    EXPECT_EQ(first.BodyLength, 12);
    EXPECT_EQ(second.BodyPosition, 12 + 2 + 1);
    EXPECT_EQ(ReadFileBytes(EmailBinPath(dir.path())), "First body\r\n\r\nSecond\r\n\r\n");
    const QList<EmailEntry> mail = ReadEmailBase(dir.path());
    ASSERT_EQ(mail.size(), 2);
    EXPECT_EQ(mail[0].body, "First body\r\n");
    EXPECT_EQ(mail[1].body, "Second\r\n");
    EXPECT_EQ(mail[1].record.BodyPosition, 15);
    EXPECT_EQ(FileLength(EmailDatPath(dir.path())), 2 * 582);
}

TEST(EmailBase, TornLastRecordIsOverwrittenNotFollowed) {
    QTemporaryDir dir;
    EmailRecord r = Sample();
    ASSERT_TRUE(AppendToEmailBase(dir.path(), r, "One\r\n"));
    ASSERT_TRUE(AppendFile(EmailDatPath(dir.path()), Text(100, 'x')));
    ASSERT_TRUE(AppendToEmailBase(dir.path(), r, "Two\r\n"));
    EXPECT_EQ(FileLength(EmailDatPath(dir.path())), 2 * 582);
    EXPECT_EQ(ReadEmailBase(dir.path()).last().body, "Two\r\n");
}

TEST(EmailBase, NoRecordIsWrittenWhenTheBodyCannotBe) {
    QTemporaryDir dir;
    // A directory where EMAIL.BIN belongs makes the body write fail.
    ASSERT_TRUE(QDir().mkpath(EmailBinPath(dir.path())));
    EmailRecord r = Sample();
    EXPECT_FALSE(AppendToEmailBase(dir.path(), r, "Body\r\n"));
    EXPECT_FALSE(QFile::exists(EmailDatPath(dir.path())));
}

TEST(EmailBase, SpoolEntriesAreRecordThenBodyWithoutSeparator) {
    QTemporaryDir dir;
    EmailRecord a = Sample(), b = Sample();
    a.BodyPosition = b.BodyPosition = 0;
    ASSERT_TRUE(AppendToSpoolNet(dir.path(), a, "abc"));
    ASSERT_TRUE(AppendToSpoolNet(dir.path(), b, "defgh\r\n"));
    const Text spool = ReadFileBytes(SpoolNetPath(dir.path()));
    ASSERT_EQ(spool.size(), 582 + 3 + 582 + 7);
    EXPECT_EQ(spool.mid(582, 3), "abc");
    EXPECT_EQ(Int32At(spool, 582 + 3 + 482), 7);
    const QList<EmailEntry> entries = ReadSpoolNet(dir.path());
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[1].body, "defgh\r\n");
}

TEST(SeqNum, StartsAtTwoCountsOnAndWrapsBelowFourMillion) {
    QTemporaryDir dir;
    bool failed = true;
    EXPECT_EQ(GetSeqNum(dir.path(), &failed), 2);
    EXPECT_FALSE(failed);
    EXPECT_EQ(GetSeqNum(dir.path()), 3);
    Text stored(4, '\0');
    qToLittleEndian<int32_t>(3999998, stored.data());
    ASSERT_TRUE(WriteFileAtomic(dir.path() + "/DBSEQ.DAT", stored));
    EXPECT_EQ(GetSeqNum(dir.path()), 3999999);
    EXPECT_EQ(GetSeqNum(dir.path()), 1);
    EXPECT_EQ(GetSeqNum(dir.path()), 2);
    EXPECT_EQ(FileLength(dir.path() + "/DBSEQ.DAT"), 4);
}

TEST(SeqNum, UnusableFileSetsFailed) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/DBSEQ.DAT"));
    bool failed = false;
    GetSeqNum(dir.path(), &failed);
    EXPECT_TRUE(failed);
}

TEST(StatZrbs, OnlyTheTwoMailCountersChange) {
    QTemporaryDir dir;
    Text record(88, '\0');
    for (int i = 0; i < 22; ++i) qToLittleEndian<int32_t>(1000 + i, record.data() + i * 4);
    ASSERT_TRUE(WriteFileAtomic(dir.path() + "/STATZRBS.DAT", record + "tail"));
    ASSERT_TRUE(CountEmailWritten(dir.path()));
    const Text after = ReadFileBytes(dir.path() + "/STATZRBS.DAT");
    ASSERT_EQ(after.size(), 92);
    for (int i = 0; i < 22; ++i) {
        const int expected = 1000 + i + ((i * 4 == 68 || i * 4 == 72) ? 1 : 0);
        EXPECT_EQ(Int32At(after, i * 4), expected) << "offset " << i * 4;
    }
    EXPECT_EQ(after.mid(88), "tail");
}

TEST(StatZrbs, NewFileStartsFromZeroAndShortOneIsLeftAlone) {
    QTemporaryDir dir;
    ASSERT_TRUE(CountEmailWritten(dir.path()));
    const Text created = ReadFileBytes(dir.path() + "/STATZRBS.DAT");
    ASSERT_EQ(created.size(), 88);
    EXPECT_EQ(Int32At(created, 68), 1);
    EXPECT_EQ(Int32At(created, 72), 1);
    EXPECT_EQ(Int32At(created, 64), 0);
    ASSERT_TRUE(WriteFileAtomic(dir.path() + "/STATZRBS.DAT", "short"));
    EXPECT_FALSE(CountEmailWritten(dir.path()));
    EXPECT_EQ(ReadFileBytes(dir.path() + "/STATZRBS.DAT"), "short");
}

TEST(EmailBase, DamagedPositionsAndLengthsReadOnlyWhatIsThere) {
    QTemporaryDir dir;
    EmailRecord r;
    Text dat;
    for (const auto& [position, length] : {std::pair{1, 0x7fffffff}, {15, 4}, {0x7ffffff0, 10}, {-5, 3}, {3, -1}}) {
        r.BodyPosition = position;
        r.BodyLength = length;
        dat += EncodeEmailRecord(r);
    }
    ASSERT_TRUE(WriteFileAtomic(EmailDatPath(dir.path()), dat));
    ASSERT_TRUE(WriteFileAtomic(EmailBinPath(dir.path()), "body of sixteen!"));
    const QList<EmailEntry> mail = ReadEmailBase(dir.path());
    ASSERT_EQ(mail.size(), 5);
    EXPECT_EQ(mail[0].body, "body of sixteen!");
    EXPECT_EQ(mail[1].body, "n!");
    EXPECT_EQ(mail[2].body, "");
    EXPECT_EQ(mail[3].body, "");
    EXPECT_EQ(mail[4].body, "");
}
