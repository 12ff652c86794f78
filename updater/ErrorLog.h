#pragma once
// The error log "ZRVERROR.LOG" in the current directory, in the line format
// shared by the programs of the BBS family. A failure to write is swallowed.
#include <QDateTime>
#include "updater/ZrvConstants.h"

Text ErrorLogLine(const QDateTime& when, const Text& program, const Text& procedure, const Text& version,
                  const Text& module, const Text& description);
void LogError(const Text& procedure, const Text& version, const Text& module, const Text& description);
