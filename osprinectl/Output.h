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

// What osprinectl prints comes from mail and files: every byte a terminal
// would act on (below 32, and DEL) is shown as "\x" and two hex digits.
inline Text Shown(const Text& line) {
    Text out;
    out.reserve(line.size());
    for (const char c : line) {
        const uchar b = uchar(c);
        if (b >= 32 && b != 127) {
            out += c;
            continue;
        }
        static const char kHex[] = "0123456789abcdef";
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

inline void Out(const Text& line) {
    const Text shown = Shown(line);
    std::fwrite(shown.constData(), 1, size_t(shown.size()), stdout);
    std::fputc('\n', stdout);
}

// One line to standard error; returns `status` so that callers can end with it.
inline int Fail(int status, const Text& line) {
    std::fflush(stdout);
    const Text shown = Shown(line);
    std::fwrite("osprinectl: ", 1, 12, stderr);
    std::fwrite(shown.constData(), 1, size_t(shown.size()), stderr);
    std::fputc('\n', stderr);
    return status;
}

}   // namespace ctl
