#pragma once
// The common error logger: one line per caught fault in "ZRVERROR.LOG" of
// the current directory. A failure inside it is swallowed. An identical line
// is written once a minute at most; the next one tells how many were left out.
#include "server/store/Text.h"

// Program name written in each line (the executable's name without extension).
void SetErrorLogProgram(const Text& program);
void LogError(const Text& procedure, const Text& version, const Text& module, const Text& description);
Text ErrorLogLine(const Text& program, const Text& procedure, const Text& version, const Text& module,
                  const Text& description);
