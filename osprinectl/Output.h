#pragma once
// What every osprinectl command shares: its exit statuses and its output.
#include <cstdio>
#include "server/store/Text.h"

namespace ctl {

enum Exit : int {
    kOk = 0,
    kNoServer = 1,     // the command needs the running server, and none answered (or it refused)
    kUnreadable = 1,   // a file of the installation exists but cannot be read
    kUsage = 2,        // bad usage, or a value the dialogs would refuse; nothing changed
};

inline void Out(const Text& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

// One line to standard error; returns `status` so that callers can end with it.
inline int Fail(int status, const Text& line) {
    std::fflush(stdout);
    std::fwrite("osprinectl: ", 1, 12, stderr);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fputc('\n', stderr);
    return status;
}

}   // namespace ctl
