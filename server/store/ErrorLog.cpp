#include "server/store/ErrorLog.h"

#include "server/store/Dates.h"
#include "server/store/Files.h"

#include <mutex>

namespace {
Text& Program() {
    static Text program = "osprine";
    return program;
}
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
    const std::lock_guard lock(oneLineAtATime);
    // Relative on purpose: the current directory is the BBS main directory.
    AppendFile("ZRVERROR.LOG", ErrorLogLine(Program(), procedure, version, module, description));
}
