#pragma once
// How many file-request answers went out in the last hour, to each address
// and in all. A one-kilobyte request naming somebody else as its Reply-To
// must not turn into a stream of large answers to them, nor many requests
// naming many addresses into a flood from this server.
#include <QHash>
#include <cstdint>
#include <deque>
#include "server/store/Text.h"

class AnswerLimit {
public:
    static constexpr int kPerHour = 10;        // to one address
    static constexpr int kInAllPerHour = 30;   // to all addresses, unless "freqperhour" says otherwise

    enum class Verdict { Allowed, AddressFull, AllFull };
    // Allowed, and counted, when one more answer may go to `address` now
    // (`nowMs` on a monotonic clock) with at most `inAllPerHour` in all; an
    // empty address counts in all only.
    Verdict Allow(const Text& address, int64_t nowMs, int inAllPerHour = kInAllPerHour);

private:
    void ForgetOld(int64_t nowMs);
    QHash<Text, std::deque<int64_t>> sent_;   // address -> times of its answers within the hour
    std::deque<int64_t> all_;                 // times of every answer within the hour
};
