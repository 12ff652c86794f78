#include "server/outbound/RetryRules.h"
#include "server/store/Dates.h"

namespace {

// Minutes of the wall clock since a fixed day; the seconds do not count.
int64_t WallMinutes(const QDateTime& t) {
    const QTime time = t.time();
    return t.date().toJulianDay() * 1440 + time.hour() * 60 + time.minute();
}

int64_t WallHours(const QDateTime& t) { return t.date().toJulianDay() * 24 + t.time().hour(); }

}   // namespace

int64_t ClockHoursBetween(const QDateTime& earlier, const QDateTime& later) {
    return WallHours(later) - WallHours(earlier);
}

int64_t ClockMinutesBetween(const QDateTime& earlier, const QDateTime& later) {
    return WallMinutes(later) - WallMinutes(earlier);
}

QueueVerdict JudgeQueueFile(const Text& processedStamp, int32_t attempts, const QDateTime& now) {
    if (processedStamp.isEmpty()) return QueueVerdict::Due;
    const QDateTime stamp = ParseGeneralDate(processedStamp);
    if (!stamp.isValid()) return QueueVerdict::Due;
    const int64_t minutes = ClockMinutesBetween(stamp, now);
    if (minutes < 0) return QueueVerdict::Due;
    if (ClockHoursBetween(stamp, now) >= kExpiryHours) return QueueVerdict::Expired;
    if (minutes >= kRetryPauseMinutes || attempts < kEagerAttempts) return QueueVerdict::Due;
    return QueueVerdict::NotDue;
}
