#include "server/store/ErrorLog.h"

#include "server/store/Dates.h"
#include "server/store/Files.h"

#include <QDir>
#include <QHash>
#include <chrono>
#include <mutex>

namespace {
Text& Program() {
    static Text program = "osprine";
    return program;
}

using Clock = std::chrono::steady_clock;
constexpr auto kRepeatWindow = std::chrono::minutes(1);
constexpr qsizetype kRememberedLines = 256;

// A fault that recurs (a file read for every message, a timer's work) is
// written once a minute at most; the next line written says how many were
// left out meanwhile.
struct Repeats {
    struct Seen {
        Clock::time_point written;
        int leftOut = 0;
    };
    QHash<Text, Seen> seen;

    // The suffix for a line to write now, or false to leave it out.
    bool Admit(const Text& key, Clock::time_point now, Text& suffix) {
        auto it = seen.find(key);
        if (it != seen.end() && now - it->written < kRepeatWindow) {
            ++it->leftOut;
            return false;
        }
        if (it != seen.end() && it->leftOut > 0) suffix = " (repeated " + Text::number(it->leftOut) + " times)";
        if (seen.size() >= kRememberedLines) Forget(now);
        seen.insert(key, Seen{now, 0});
        return true;
    }

    // Bounded memory: lines older than the window are forgotten.
    void Forget(Clock::time_point now) {
        seen.removeIf([now](const auto& entry) { return now - entry.value().written >= kRepeatWindow; });
        if (seen.size() >= kRememberedLines) seen.clear();
    }
};
}   // namespace

void SetErrorLogProgram(const Text& program) { Program() = program; }

Text ErrorLogLine(const Text& program, const Text& procedure, const Text& version, const Text& module,
                  const Text& description) {
    return LogStamp() + " " + Trim(program) + " v" + version + "  " + Trim(module) + " " + Trim(procedure) + " - " +
           Trim(description) + CRLF;
}

void LogError(const Text& procedure, const Text& version, const Text& module, const Text& description) {
    // The event loop and the disk thread both write here, a line at a time.
    static std::mutex oneLineAtATime;
    static Repeats repeats;
    const std::lock_guard lock(oneLineAtATime);
    Text suffix;
    // Per log file: the same fault in another installation is news there.
    const Text key = QDir::currentPath().toLocal8Bit() + '\0' + procedure + '\0' + module + '\0' + description;
    if (!repeats.Admit(key, Clock::now(), suffix)) return;
    // Relative on purpose: the current directory is the BBS main directory.
    AppendFile("ZRVERROR.LOG", ErrorLogLine(Program(), procedure, version, module, Trim(description) + suffix));
}
