// The substitute tosser run as a real process in a test installation, and
// the mail reader run on what it filed.
#include "server/bbs/EmailRecord.h"
#include "server/store/Files.h"
#include "tests/support/TempBbs.h"
#include "tools/mailbase/TosserFlag.h"
#include "tools/testbbs/TosserInstall.h"

#include <gtest/gtest.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QtEndian>

namespace {

Text HandOff(const Text& to, const Text& subject, const Text& body = "Hello there.\r\n") {
    return "Return-Path: <sender@example.org>\r\n"
           "Received: from 127.0.0.1\r\n"
           "\tby bbs.example (OSPRINE v1.4.060711)\r\n"
           "\tfor <" +
           to +
           ">; Tue, 11 Jul 2006 19:35:37 +0200\r\n"
           "From: Sender <sender@example.org>\r\n"
           "To: " +
           to +
           "\r\n"
           "Subject: " +
           subject +
           "\r\n"
           "Date: Tue, 11 Jul 2006 19:35:37 +0200\r\n"
           "\r\n" +
           body + "\r\n\r\n";
}

// As the server writes it: under another name, then renamed into place.
void Drop(const TempBbs& bbs, const QString& name, const Text& content) {
    const QString path = PathJoin(bbs.Layout().spoolTmpDir, name);
    QFile f(path + ".tmp");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    f.close();
    ASSERT_TRUE(QFile::rename(path + ".tmp", path));
}

struct Outcome {
    int exitCode = -1;
    QByteArray out, err;
};

void Start(QProcess& p, const QString& program, const QStringList& args, const QString& dir) {
    p.setWorkingDirectory(dir);
    p.start(program, args);
    EXPECT_TRUE(p.waitForStarted(10000)) << program.toStdString();
}

Outcome Finish(QProcess& p) {
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

Outcome Tosser(const TempBbs& bbs, const QStringList& args = {"0", "/R"}) {
    QProcess p;
    Start(p, bbs.Path("ZUUCP.EXE"), args, bbs.Dir());
    return Finish(p);
}

Outcome ReadMail(const TempBbs& bbs, const QStringList& args) {
    QProcess p;
    const QString reader = PathJoin(QFileInfo(FindTosserBinary({})).path(), "osprine-readmail");
    Start(p, reader, QStringList{bbs.Dir()} + args, bbs.Dir());
    return Finish(p);
}

QList<EmailEntry> Mail(const TempBbs& bbs) { return ReadEmailBase(bbs.Layout().messageDir); }

int Pending(const TempBbs& bbs) { return int(QDir(bbs.Layout().spoolTmpDir).entryList(QDir::Files).size()); }

bool FlagRaised(const TempBbs& bbs) { return !ListFiles(bbs.Dir(), "BT*.FLG").isEmpty(); }

}   // namespace

TEST(Tosser, FilesEveryHandOffForTheUserItsToAddressNames) {
    TempBbs bbs;
    ASSERT_TRUE(WriteFileAtomic(bbs.Path("HANDLES.UIP"), "system-daemon,SYSTEM-DAEMON,1,1\r\njsmith,2,1,1\r\n"));
    Drop(bbs, "V1.D", HandOff("John Smith <john.smith@bbs.example>", "by name"));
    Drop(bbs, "V2.D", HandOff("<DARKSTAR@bbs.example>", "by handle in capitals"));
    Drop(bbs, "v3.d", HandOff("<3@bbs.example>", "by number"));
    Drop(bbs, "V4.D", HandOff("<jsmith@bbs.example>", "by learned handle"));
    Drop(bbs, "V5.D", HandOff("<nobody@bbs.example>", "for nobody"));
    Drop(bbs, "V6.D", HandOff("<5@bbs.example>", "for the deleted record"));
    Drop(bbs, "V7.D", "no header block at all");
    Drop(bbs, "V8.TMP", "not a hand-off file");

    const Outcome r = Tosser(bbs);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "ZUUCP.EXE: 7 message(s) imported\n");
    EXPECT_EQ(QDir(bbs.Layout().spoolTmpDir).entryList(QDir::Files), QStringList{"V8.TMP"});
    EXPECT_FALSE(FlagRaised(bbs));

    QMap<Text, int32_t> userBySubject;
    for (const EmailEntry& e : Mail(bbs)) userBySubject[e.record.Subject] = e.record.ToUserNumber;
    EXPECT_EQ(userBySubject.value("by name"), 2);
    EXPECT_EQ(userBySubject.value("by handle in capitals"), 4);
    EXPECT_EQ(userBySubject.value("by number"), 3);
    EXPECT_EQ(userBySubject.value("by learned handle"), 2);
    EXPECT_EQ(userBySubject.value("for nobody"), 1);
    EXPECT_EQ(userBySubject.value("for the deleted record"), 1);
    EXPECT_EQ(userBySubject.value(""), 1);   // the headerless file: nothing is lost
    EXPECT_EQ(userBySubject.size(), 7);
}

TEST(Tosser, WritesTheRecordAndBodyLayout) {
    TempBbs bbs;
    Drop(bbs, "V1.D", HandOff("<mary.jones@bbs.example>", "Layout", "first\r\nsecond\r\n"));
    Drop(bbs, "V2.D", HandOff("<mary.jones@bbs.example>", "Again", "third\r\n"));
    Text stats(88, '\0');
    for (int offset = 0; offset < 88; offset += 4) qToLittleEndian<int32_t>(offset, stats.data() + offset);
    const QString statFile = PathJoin(bbs.Layout().dataDir, "STATZRBS.DAT");
    ASSERT_TRUE(WriteFileAtomic(statFile, stats));
    ASSERT_EQ(Tosser(bbs).exitCode, 0);

    // The BBS's e-mail counters grow by the number filed; nothing else changes.
    qToLittleEndian<int32_t>(68 + 2, stats.data() + 68);
    qToLittleEndian<int32_t>(72 + 2, stats.data() + 72);
    EXPECT_EQ(ReadFileBytes(statFile), stats);

    const QString msgs = bbs.Layout().messageDir;
    EXPECT_EQ(ReadFileBytes(EmailBinPath(msgs)), "first\r\nsecond\r\n\r\nthird\r\n\r\n");
    const Text dat = ReadFileBytes(EmailDatPath(msgs));
    ASSERT_EQ(dat.size(), 2 * kEmailRecordSize);
    const char* r = dat.constData();
    EXPECT_EQ(qFromLittleEndian<int32_t>(r + 0), 0);
    EXPECT_EQ(qFromLittleEndian<int32_t>(r + 4), 3);
    EXPECT_EQ(dat.mid(8, 40), StrPad("sender", 40));
    EXPECT_EQ(dat.mid(48, 40), StrPad("Mary Jones", 40));
    EXPECT_EQ(dat.mid(88, 80), StrPad("example.org", 80));
    EXPECT_EQ(dat.mid(168, 80), StrPad("1", 80));   // SYSTEMID of network 1
    EXPECT_EQ(qFromLittleEndian<int16_t>(r + 248), 9);
    EXPECT_EQ(qFromLittleEndian<int16_t>(r + 250), 1);
    EXPECT_EQ(qFromLittleEndian<int32_t>(r + 256), 2);   // first number of a new DBSEQ.DAT
    EXPECT_EQ(dat.mid(268, 64), StrPad("Layout", 64));
    EXPECT_EQ(dat.mid(334, 40), StrPad("Tue Jul 11, 2006 19:35:37 +0200", 40));
    EXPECT_EQ(dat.mid(458, 12), Text(12, '\0'));
    EXPECT_EQ(dat.mid(470, 8), "EMAIL   ");
    EXPECT_EQ(qFromLittleEndian<int32_t>(r + 478), 1);
    EXPECT_EQ(qFromLittleEndian<int32_t>(r + 482), 15);
    EXPECT_EQ(qFromLittleEndian<int32_t>(r + kEmailRecordSize + 256), 3);
    EXPECT_EQ(qFromLittleEndian<int32_t>(r + kEmailRecordSize + 478), 18);
    EXPECT_EQ(qFromLittleEndian<int32_t>(r + kEmailRecordSize + 482), 7);
}

TEST(Tosser, TakesFilesThatArriveWhileItWorksAndLowersItsFlagAfter) {
    TempBbs bbs;
    const Text body = Text(4000, 'x') + "\r\n";
    constexpr int kFiles = 3000;
    for (int i = 1; i <= kFiles; ++i)
        Drop(bbs, "V" + QString::number(i) + ".D", HandOff("<bob@bbs.example>", "bulk", body));

    QProcess p;
    Start(p, bbs.Path("ZUUCP.EXE"), {"0", "/R"}, bbs.Dir());
    QDeadlineTimer deadline(30000);
    while (!FlagRaised(bbs) && p.state() == QProcess::Running && !deadline.hasExpired()) QThread::usleep(200);
    ASSERT_TRUE(FlagRaised(bbs)) << "the tosser never raised its flag";
    Drop(bbs, "V9999.D", HandOff("<carol.white@bbs.example>", "late arrival"));
    const int stillWaiting = Pending(bbs);
    const Outcome r = Finish(p);

    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Pending(bbs), 0);
    EXPECT_FALSE(FlagRaised(bbs));
    const QList<EmailEntry> mail = Mail(bbs);
    ASSERT_EQ(mail.size(), kFiles + 1);
    EXPECT_GT(stillWaiting, 1) << "the run ended before the late file came; it proves nothing";
    EXPECT_EQ(mail.last().record.Subject, "late arrival");   // oldest first: the late one comes last
    EXPECT_EQ(mail.last().record.ToUserNumber, 9);
    EXPECT_EQ(mail[1234].body, body);
}

TEST(Tosser, LeavesTheFilesAloneWhileAnotherTosserHoldsTheFlag) {
    TempBbs bbs;
    Drop(bbs, "V1.D", HandOff("<bob@bbs.example>", "wait"));
    {
        TosserFlag other;
        ASSERT_EQ(other.Raise(bbs.Dir(), 0), TosserFlag::Result::Held);
        const Outcome r = Tosser(bbs);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "ZUUCP.EXE: another tosser is at work; nothing done\n");
        EXPECT_EQ(Pending(bbs), 1);
        EXPECT_TRUE(FlagRaised(bbs));
    }
    EXPECT_FALSE(FlagRaised(bbs));
    EXPECT_EQ(Tosser(bbs).exitCode, 0);
    EXPECT_EQ(Pending(bbs), 0);
}

TEST(Tosser, RefusesBadArgumentsAndABrokenInstallation) {
    TempBbs bbs;
    Drop(bbs, "V1.D", HandOff("<bob@bbs.example>", "kept"));
    EXPECT_EQ(Tosser(bbs, {}).exitCode, 2);
    EXPECT_EQ(Tosser(bbs, {"x", "/R"}).exitCode, 2);
    EXPECT_EQ(Tosser(bbs, {"0", "/Q"}).exitCode, 2);
    EXPECT_EQ(Pending(bbs), 1);

    ASSERT_TRUE(QFile::remove(PathJoin(bbs.Layout().dataDir, "NET.9")));
    const Outcome r = Tosser(bbs);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("NETDIR")) << r.err.toStdString();
    EXPECT_EQ(Pending(bbs), 1);
    EXPECT_FALSE(FlagRaised(bbs));
}

TEST(ReadMail, ListsAUsersMailByNumberOrHandle) {
    TempBbs bbs;
    Drop(bbs, "V1.D", HandOff("<john.smith@bbs.example>", "Lunch?", "At noon.\r\n"));
    Drop(bbs, "V2.D", HandOff("<sysop@bbs.example>", "Not for John"));
    ASSERT_EQ(Tosser(bbs).exitCode, 0);

    const Outcome byHandle = ReadMail(bbs, {"john.smith"});
    EXPECT_EQ(byHandle.exitCode, 0) << byHandle.err.toStdString();
    EXPECT_EQ(byHandle.out,
              "Mail for John Smith (user 2): 1 message(s)\n\n"
              "[1] From: sender@example.org\n"
              "    Subject: Lunch?\n"
              "    Date: Tue Jul 11, 2006 19:35:37 +0200\n\n");
    const Outcome withBody = ReadMail(bbs, {"2", "--body"});
    EXPECT_TRUE(withBody.out.contains("\n\nAt noon.\r\n\n")) << withBody.out.toStdString();

    EXPECT_EQ(ReadMail(bbs, {"nobody"}).exitCode, 2);
    EXPECT_EQ(ReadMail(bbs, {"2", "--bogus"}).exitCode, 2);
}
