#include "server/store/Caches.h"

#include <vector>

namespace {
std::vector<void (*)()>& Forgetters() {
    static std::vector<void (*)()> forgetters;
    return forgetters;
}
}   // namespace

void AddCache(void (*forget)()) { Forgetters().push_back(forget); }

void ForgetCaches() {
    for (void (*forget)() : Forgetters()) forget();
}
