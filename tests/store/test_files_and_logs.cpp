#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/EventLog.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <ctime>

namespace {
QString Write(const QTemporaryDir& dir, const QString& name, const Text& bytes) {
    const QString path = dir.filePath(name);
    EXPECT_TRUE(WriteFileAtomic(path, bytes));
    return path;
}
}   // namespace

TEST(KeyedList, KeysIgnoreCaseAndSpacesValuesAreKeptWhole) {
    QTemporaryDir dir;
    const QString f =
        Write(dir, "OSPRDATA.DAT", " HeaderFilter = Subject,a=b\r\n\r\naliases=sales,12\r\naliases=second\r\n");
    EXPECT_EQ(GetData("headerfilter", f), " Subject,a=b");
    EXPECT_EQ(GetData("aliases", f), "sales,12");
    EXPECT_EQ(GetData("missing", f), "");
    EXPECT_EQ(GetData("aliases", dir.filePath("none.dat")), "");
    const QString g = Write(dir, "OTHER.DAT", "domains\r\nno key here\r\nrelaydb=a=b\r\n subjectfilter\t=last");
    EXPECT_EQ(GetData("domains", g), "");   // a key without "=" has an empty value
    EXPECT_EQ(GetData("relaydb", g), "a=b");
    EXPECT_EQ(GetData("SUBJECTFILTER", g), "last");   // the last line needs no line end
    EXPECT_FALSE(QFile::exists(dir.filePath("none.dat")));
}

TEST(KeyedList, PutDataReplacesEveryMatchAndKeepsOtherLines) {
    QTemporaryDir dir;
    const QString f = Write(dir, "OSPRDATA.DAT", "aliases=a,1\r\n\r\nunknown=x\r\nALIASES=b,2\r\n");
    PutData("aliases", "c,3", f);
    EXPECT_EQ(ReadFileBytes(f), "aliases=c,3\r\n\r\nunknown=x\r\naliases=c,3\r\n");
    PutData("domains", "", f);
    EXPECT_TRUE(ReadFileBytes(f).endsWith("domains=\r\n"));
    const QString g = dir.filePath("NEW.DAT");
    PutData("relaydb", "zone.one", g);
    EXPECT_EQ(ReadFileBytes(g), "relaydb=zone.one\r\n");
    EXPECT_FALSE(QFile::exists(g + ".TMP"));
}

TEST(KeyedList, DeleteDataOnlyWhenEveryValueIsEmpty) {
    QTemporaryDir dir;
    const QString empty = Write(dir, "A.DAT", "relaydb=\r\n");
    DeleteData(empty);
    EXPECT_FALSE(QFile::exists(empty));
    const QString space = Write(dir, "B.DAT", "relaydb= \r\n");
    DeleteData(space);
    EXPECT_TRUE(QFile::exists(space));
    CreateFile(dir.filePath("C.DAT"), false);
    EXPECT_EQ(FileLength(dir.filePath("C.DAT")), 0);
    EXPECT_EQ(ListRows("a,1;b", 2), (QList<TextList>{{"a", "1"}, {"b", ""}}));
}

// An event log in a temporary main directory whose window lines are kept.
struct EventLogTest : ::testing::Test {
    QTemporaryDir dir;
    int32_t maxSize = 0;
    EventLog log{dir.path(), maxSize};
    TextList shown;
    EventLogTest() {
        log.SetSink([this](const Text& line) { shown.append(line); });
    }
};

TEST_F(EventLogTest, HeaderColumnsAndLineSplitting) {
    log.OsprineLog(7, "one\ntwo");
    log.ShowEvent("one\ntwo");
    EXPECT_EQ(shown, (TextList{"one", "two"}));
    const Text file = ReadFileBytes(log.LogPath());
    const Text header = "OSPRINE Event Log\r\n" + Text(79, '-') +
                        "\r\nDate           Time     Socket  Description\r\n" + Text(79, '-') + "\r\n";
    ASSERT_TRUE(file.startsWith(header));
    const TextList lines = Explode("\r\n", file.mid(header.size()));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].size(), 23 + 1 + 6 + 2 + 3);
    EXPECT_EQ(lines[0].mid(23), "      7  one");
    EXPECT_EQ(lines[1].mid(23), "      7  two");
    EXPECT_EQ(EventLog::FileLine("S", -12345, "x"), "S -12345  x\r\n");
}

TEST(EventLog, RotatesOnlyAboveTheLimit) {
    QTemporaryDir dir;
    int32_t maxSize = 0;
    EventLog log(dir.path(), maxSize);
    log.OsprineLog(0, "first");
    maxSize = int32_t(FileLength(log.LogPath()));
    log.OsprineLog(0, "");   // exactly at the limit: no rotation, an empty line
    EXPECT_FALSE(QFile::exists(dir.filePath("OSPRINE.OLD")));
    log.OsprineLog(0, "third");
    ASSERT_TRUE(QFile::exists(dir.filePath("OSPRINE.OLD")));
    EXPECT_TRUE(ReadFileBytes(dir.filePath("OSPRINE.OLD")).endsWith("      0  \r\n"));
    const Text fresh = ReadFileBytes(log.LogPath());
    EXPECT_TRUE(fresh.startsWith("OSPRINE Event Log\r\n"));
    EXPECT_TRUE(fresh.endsWith("      0  third\r\n"));
}

TEST(ErrorLog, LineFormat) {
    const Text line = ErrorLogLine(" osprine ", "CheckDomain", "1.4.060711", "frmMain", " boom ");
    EXPECT_EQ(line.mid(23), " osprine v1.4.060711  frmMain CheckDomain - boom\r\n");
    EXPECT_EQ(LogStamp().size(), 23);
}

TEST(Dates, EnglishNamesAndGeneralForm) {
    const QDateTime t(QDate(2006, 7, 11), QTime(19, 35, 37));
    EXPECT_EQ(LogStamp(t), "Tue 2006-07-11 19:35:37");
    EXPECT_EQ(HeaderDateNoZone(t), "Tue, 11 Jul 2006 19:35:37");
    EXPECT_EQ(UsDate(t.date()), "07/11/2006");
    EXPECT_EQ(YyMmDd(t.date()), "060711");
    EXPECT_EQ(ParseGeneralDate(GeneralDateText(t)), t);
    EXPECT_EQ(ParseGeneralDate("7/11/2006 7:35:37 PM"), t);
    EXPECT_FALSE(ParseGeneralDate("not a date").isValid());
    const Text zone = GetTimeZoneOffset(t);
    ASSERT_EQ(zone.size(), 5);
    EXPECT_TRUE(zone[0] == '+' || zone[0] == '-');
}

TEST(Files, WildcardsIgnoreCase) {
    QTemporaryDir dir;
    Write(dir, "bt12.flg", "");
    QDir(dir.path()).mkdir("Sub");
    EXPECT_TRUE(FileExists(dir.filePath("BT*.FLG")));
    EXPECT_FALSE(FileExists(dir.filePath("V*.D")));
    EXPECT_TRUE(DirExists(dir.filePath("SUB"), true));
    EXPECT_FALSE(FileExists(dir.filePath("Sub")));
    EXPECT_TRUE(DirExists(dir.filePath("Sub")));
    EXPECT_EQ(FindNameNoCase(dir.path(), "BT12.FLG"), "bt12.flg");
    EXPECT_EQ(ListFiles(dir.path(), "*.FLG"), QStringList{"bt12.flg"});
    EXPECT_EQ(ReadFileText(Write(dir, "n.txt", Text("ab\0cd", 5))), "ab");
}

TEST(Dates, ZoneOffsetSignAndMinutes) {
    // POSIX zone rules need no zone database; east of UTC is "+".
    const QByteArray previous = qgetenv("TZ");
    const QDateTime summer(QDate(2006, 7, 11), QTime(12, 0), Qt::UTC);
    const QDateTime winter(QDate(2006, 1, 11), QTime(12, 0), Qt::UTC);
    auto offsetIn = [](const char* zone, const QDateTime& when) {
        qputenv("TZ", zone);
        tzset();
        return GetTimeZoneOffset(when);
    };
    EXPECT_EQ(offsetIn("IST-5:30", summer), "+0530");
    EXPECT_EQ(offsetIn("EST5EDT,M3.2.0,M11.1.0", summer), "-0400");
    EXPECT_EQ(offsetIn("EST5EDT,M3.2.0,M11.1.0", winter), "-0500");
    EXPECT_EQ(offsetIn("NST3:30", winter), "-0330");
    EXPECT_EQ(offsetIn("UTC0", winter), "+0000");
    if (previous.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", previous);
    tzset();
}

TEST_F(EventLogTest, NoRotationAtZeroAndTrailingLineEnds) {
    ASSERT_TRUE(WriteFileAtomic(log.LogPath(), Text(5000, 'x') + "\r\n"));
    log.OsprineLog(3, "end\r\n");   // no header for an existing file, no rotation at 0
    log.ShowEvent("a\r\rb");
    EXPECT_FALSE(QFile::exists(dir.filePath("OSPRINE.OLD")));
    const TextList lines = Explode("\r\n", ReadFileBytes(log.LogPath()));
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[1].mid(23), "      3  end");
    EXPECT_EQ(lines[2].mid(23), "      3  ");
    EXPECT_EQ(lines[1].left(23), lines[2].left(23));
    EXPECT_EQ(shown, (TextList{"a", "", "b"}));
}
