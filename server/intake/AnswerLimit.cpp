#include "server/intake/AnswerLimit.h"

namespace {
constexpr int64_t kHourMs = 60 * 60 * 1000;
// Addresses kept before the ones without an answer in the last hour are dropped.
constexpr qsizetype kSweepAbove = 4096;
}   // namespace

bool AnswerLimit::Allow(const Text& address, int64_t nowMs) {
    if (sent_.size() > kSweepAbove) ForgetOld(nowMs);
    std::deque<int64_t>& times = sent_[LCase(Trim(address))];
    while (!times.empty() && nowMs - times.front() >= kHourMs) times.pop_front();
    if (int(times.size()) >= kPerHour) return false;
    times.push_back(nowMs);
    return true;
}

void AnswerLimit::ForgetOld(int64_t nowMs) {
    for (auto it = sent_.begin(); it != sent_.end();)
        it = it->empty() || nowMs - it->back() >= kHourMs ? sent_.erase(it) : std::next(it);
}
