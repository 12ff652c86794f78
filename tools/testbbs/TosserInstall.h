#pragma once
// Puts the substitute tosser into a test installation as "ZUUCP.EXE", the
// program the server's batch file runs from the main directory.
#include <QString>

inline constexpr const char* kTosserName = "ZUUCP.EXE";

// The tosser binary: `explicitPath` when given, else "ZUUCP.EXE" beside the
// running program, else in the directory named by OSPRINE_BIN; "" when none.
QString FindTosserBinary(const QString& explicitPath);

// Copies it to mainDir/ZUUCP.EXE (through a temporary name), executable.
bool InstallTosser(const QString& binary, const QString& mainDir, QString* error);
