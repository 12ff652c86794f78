#pragma once
// How many file-request answers went to each address in the last hour. A
// one-kilobyte request naming somebody else as its Reply-To must not turn
// into a stream of large answers to them.
#include <QHash>
#include <cstdint>
#include <deque>
#include "server/store/Text.h"

class AnswerLimit {
public:
    static constexpr int kPerHour = 10;

    // True, and counted, when one more answer may go to `address` now
    // (`nowMs` on a monotonic clock).
    bool Allow(const Text& address, int64_t nowMs);

private:
    void ForgetOld(int64_t nowMs);
    QHash<Text, std::deque<int64_t>> sent_;   // address -> times of its answers within the hour
};
