#include "server/intake/AnswerLimit.h"

namespace {
constexpr int64_t kHourMs = 60 * 60 * 1000;
// Addresses kept before the ones without an answer in the last hour are dropped.
constexpr qsizetype kSweepAbove = 4096;

void DropOlderThanAnHour(std::deque<int64_t>& times, int64_t nowMs) {
    while (!times.empty() && nowMs - times.front() >= kHourMs) times.pop_front();
}
}   // namespace

AnswerLimit::Verdict AnswerLimit::Allow(const Text& address, int64_t nowMs, int inAllPerHour) {
    if (sent_.size() > kSweepAbove) ForgetOld(nowMs);
    const Text key = LCase(Trim(address));
    std::deque<int64_t>* times = key.isEmpty() ? nullptr : &sent_[key];   // no address: counted in all only
    if (times) DropOlderThanAnHour(*times, nowMs);
    DropOlderThanAnHour(all_, nowMs);
    if (times && int(times->size()) >= kPerHour) return Verdict::AddressFull;
    if (int64_t(all_.size()) >= inAllPerHour) return Verdict::AllFull;
    if (times) times->push_back(nowMs);
    all_.push_back(nowMs);
    return Verdict::Allowed;
}

void AnswerLimit::ForgetOld(int64_t nowMs) {
    for (auto it = sent_.begin(); it != sent_.end();)
        it = it->empty() || nowMs - it->back() >= kHourMs ? sent_.erase(it) : std::next(it);
}
