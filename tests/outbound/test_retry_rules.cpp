// Which queued messages are due: attempts and stamps, the 48-hour expiry,
// and hours and minutes counted as changes of the clock's fields.
#include <gtest/gtest.h>
#include "server/outbound/RetryRules.h"
#include "server/store/Dates.h"

namespace {

QDateTime At(int day, int h, int m, int s) { return QDateTime(QDate(2026, 3, day), QTime(h, m, s)); }

Text Stamp(const QDateTime& t) { return GeneralDateText(t); }

}   // namespace

TEST(ClockFields, CountFieldChangesNotElapsedTime) {
    EXPECT_EQ(ClockHoursBetween(At(10, 10, 59, 58), At(10, 11, 0, 1)), 1);
    EXPECT_EQ(ClockMinutesBetween(At(10, 10, 59, 58), At(10, 11, 0, 1)), 1);
    EXPECT_EQ(ClockHoursBetween(At(10, 10, 0, 0), At(10, 10, 59, 59)), 0);
    EXPECT_EQ(ClockMinutesBetween(At(10, 10, 0, 0), At(10, 10, 59, 59)), 59);
    // Over midnight and over a month's end.
    EXPECT_EQ(ClockHoursBetween(At(10, 23, 59, 30), At(11, 0, 0, 10)), 1);
    EXPECT_EQ(ClockMinutesBetween(QDateTime(QDate(2026, 2, 28), QTime(23, 59)), At(1, 0, 1, 0)), 2);
    EXPECT_EQ(ClockMinutesBetween(At(10, 12, 0, 0), At(10, 11, 58, 0)), -2);
}

TEST(QueueSelection, NeverTriedOrUnreadableStampIsDue) {
    const QDateTime now = At(10, 12, 0, 0);
    EXPECT_EQ(JudgeQueueFile("", 0, now), QueueVerdict::Due);
    EXPECT_EQ(JudgeQueueFile("", 500, now), QueueVerdict::Due);
    EXPECT_EQ(JudgeQueueFile("yesterday-ish", 50, now), QueueVerdict::Due);
    EXPECT_EQ(JudgeQueueFile("2026-13-45 99:00:00", 50, now), QueueVerdict::Due);
}

TEST(QueueSelection, FirstTenAttemptsAtEveryChance) {
    const QDateTime now = At(10, 12, 0, 0);
    EXPECT_EQ(JudgeQueueFile(Stamp(now.addSecs(-60)), 3, now), QueueVerdict::Due);
    EXPECT_EQ(JudgeQueueFile(Stamp(now), 9, now), QueueVerdict::Due);
}

TEST(QueueSelection, FromTheTenthAttemptOncePerFiveMinutes) {
    const QDateTime now = At(10, 12, 0, 0);
    EXPECT_EQ(JudgeQueueFile(Stamp(now.addSecs(-180)), 10, now), QueueVerdict::NotDue);
    EXPECT_EQ(JudgeQueueFile(Stamp(now.addSecs(-240)), 25, now), QueueVerdict::NotDue);
    EXPECT_EQ(JudgeQueueFile(Stamp(now.addSecs(-300)), 10, now), QueueVerdict::Due);
    // 4 minutes 1 second elapsed, but the minute field changed 5 times.
    EXPECT_EQ(JudgeQueueFile(Stamp(At(10, 11, 55, 59)), 10, now), QueueVerdict::Due);
    EXPECT_EQ(JudgeQueueFile(Stamp(At(10, 11, 55, 0)), 10, At(10, 11, 59, 59)), QueueVerdict::NotDue);
}

TEST(QueueSelection, ExpiresAfter48ClockHours) {
    const QDateTime now = At(12, 10, 0, 0);
    EXPECT_EQ(JudgeQueueFile(Stamp(now.addSecs(-48 * 3600)), 3, now), QueueVerdict::Expired);
    EXPECT_EQ(JudgeQueueFile(Stamp(now.addDays(-30)), 99, now), QueueVerdict::Expired);
    // 47 hours and 1 second elapsed count as 48 clock hours.
    EXPECT_EQ(JudgeQueueFile(Stamp(At(10, 10, 59, 59)), 3, now), QueueVerdict::Expired);
    EXPECT_EQ(JudgeQueueFile(Stamp(At(10, 11, 0, 0)), 3, now), QueueVerdict::Due);
    EXPECT_EQ(JudgeQueueFile(Stamp(At(10, 11, 0, 0)), 12, now), QueueVerdict::Due);
}

TEST(QueueSelection, ReadsTheUsFormOfOlderQueueFiles) {
    const QDateTime now = QDateTime(QDate(2006, 7, 11), QTime(19, 37, 0));
    EXPECT_EQ(JudgeQueueFile("7/11/2006 7:35:37 PM", 10, now), QueueVerdict::NotDue);
    EXPECT_EQ(JudgeQueueFile("7/9/2006 7:35:37 PM", 10, now), QueueVerdict::Expired);
}

TEST(QueueSelection, StampInTheFutureIsDue) {
    // A clock set back must not hold a message until the stamp comes round.
    const QDateTime now = At(10, 12, 0, 0);
    EXPECT_EQ(JudgeQueueFile(Stamp(now.addYears(5)), 40, now), QueueVerdict::Due);
}
