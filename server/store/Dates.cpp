#include "server/store/Dates.h"

#include <ctime>

namespace {
const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

Text Two(int n) { return Text::number(n).rightJustified(2, '0'); }
Text DayName(const QDate& d) { return kDays[d.dayOfWeek() - 1]; }
}   // namespace

// The caches are per thread: the disk thread stamps its error-log lines too.
QDateTime Now() {
    static thread_local time_t cachedSecond = -1;
    static thread_local QDateTime cached;
    const time_t second = time(nullptr);
    if (second != cachedSecond) {
        cachedSecond = second;
        cached = QDateTime::fromSecsSinceEpoch(second);
    }
    return cached;
}

Text GetTimeZoneOffset(const QDateTime& when) {
    const time_t t = time_t(when.toSecsSinceEpoch());
    struct tm local {};
    if (!localtime_r(&t, &local)) return {};
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long a = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    return Text(offsetMinutes < 0 ? "-" : "+") + Two(int(a / 60)) + Two(int(a % 60));
}

namespace {
Text FormatTime(const QDateTime& when) {
    const QTime t = when.time();
    return Two(t.hour()) + ":" + Two(t.minute()) + ":" + Two(t.second());
}

Text FormatLogStamp(const QDateTime& when) {
    const QDate d = when.date();
    return DayName(d) + " " + Text::number(d.year()) + "-" + Two(d.month()) + "-" + Two(d.day()) + " " +
           FormatTime(when);
}

// Event lines are stamped many times a second with the same time: the text
// is made once per second. (Comparing two local times would itself read the
// time zone, which costs more than the text.)
struct SecondText {
    time_t second = -1;
    Text text;
};

Text OfThisSecond(SecondText& kept, Text (*format)(const QDateTime&)) {
    const time_t second = time(nullptr);
    if (second != kept.second) kept = {second, format(Now())};
    return kept.text;
}
}   // namespace

Text TimeText(const QDateTime& when) { return FormatTime(when); }

Text TimeText() {
    static thread_local SecondText kept;
    return OfThisSecond(kept, FormatTime);
}

Text HeaderDateNoZone(const QDateTime& when) {
    const QDate d = when.date();
    return DayName(d) + ", " + Two(d.day()) + " " + kMonths[d.month() - 1] + " " + Text::number(d.year()) + " " +
           TimeText(when);
}

Text HeaderDate(const QDateTime& when) { return HeaderDateNoZone(when) + " " + GetTimeZoneOffset(when); }

Text LogStamp(const QDateTime& when) { return FormatLogStamp(when); }

Text LogStamp() {
    static thread_local SecondText kept;
    return OfThisSecond(kept, FormatLogStamp);
}

Text UsDate(const QDate& d) { return Two(d.month()) + "/" + Two(d.day()) + "/" + Text::number(d.year()); }

Text YyMmDd(const QDate& d) { return Two(d.year() % 100) + Two(d.month()) + Two(d.day()); }

Text GeneralDateText(const QDateTime& when) {
    const QDate d = when.date();
    return Text::number(d.year()) + "-" + Two(d.month()) + "-" + Two(d.day()) + " " + TimeText(when);
}

QDateTime ParseGeneralDate(const Text& text) {
    const QString s = QString::fromLatin1(Trim(text));
    if (s.isEmpty()) return {};
    for (const char* format : {"yyyy-MM-dd HH:mm:ss", "M/d/yyyy h:mm:ss AP", "M/d/yyyy h:mm:ss ap", "M/d/yyyy H:mm:ss",
                               "M/d/yyyy", "yyyy-MM-dd"}) {
        QDateTime dt = QDateTime::fromString(s, QString::fromLatin1(format));
        if (dt.isValid()) return dt;
    }
    return {};
}
