#pragma once
// When a queued message is tried again, and when it is given up.
#include <QDateTime>
#include "server/store/Text.h"

// Hours and minutes between two local times, counted as changes of the
// clock's hour or minute field: 10:59:58 and 11:00:01 are one hour and one
// minute apart. Negative when `later` lies before `earlier`.
int64_t ClockHoursBetween(const QDateTime& earlier, const QDateTime& later);
int64_t ClockMinutesBetween(const QDateTime& earlier, const QDateTime& later);

enum class QueueVerdict { Due, NotDue, Expired };

inline constexpr int kExpiryHours = 48;
inline constexpr int kRetryPauseMinutes = 5;
inline constexpr int kEagerAttempts = 10;

// The selection rule for one queue file, from its "X-OSPRINE-Processed"
// stamp (trimmed) and "X-OSPRINE-Attempts" count:
// - no stamp: due (never tried);
// - a stamp that cannot be read, or one in the future: due, since nothing
//   sound can be judged from it and holding the message could keep it forever;
// - 48 clock hours or more since the stamp: expired (returned to the sender);
// - otherwise due while fewer than 10 attempts were made, then once per 5 minutes.
QueueVerdict JudgeQueueFile(const Text& processedStamp, int32_t attempts, const QDateTime& now);
