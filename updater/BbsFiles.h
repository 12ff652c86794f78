#pragma once
// What the update checker reads of the BBS's own files: the main directory
// from "SYSPATHS.CFG" and the update-type setting from "ZARVEL.CFG".
#include <QString>
#include <optional>

// Record 1 of "SYSPATHS.CFG" (record length 400): field 1, 40 bytes at offset 0.
inline constexpr int kSysPathsRecordLength = 400;
inline constexpr int kSysPathsMainDirOffset = 0;
inline constexpr int kSysPathsFieldWidth = 40;

// Record 1 of "ZARVEL.CFG" (record length 148): signed 16-bit update type at offset 132.
inline constexpr int kZarvelCfgRecordLength = 148;
inline constexpr int kZarvelCfgUpdateTypeOffset = 132;

// The BBS main directory named by "SYSPATHS.CFG" in the given directory, or
// nothing when that file is missing or unreadable.
std::optional<QString> ReadMainDirectory(const QString& workDir);

// The update-type field of "ZARVEL.CFG" in the main directory; 0 when the file
// is missing or too short to hold it.
int ReadUpdateTypeSetting(const QString& mainDir);

// The path of the file in the directory whose name matches without regard to
// letter case (an exact match first), or "" when there is none.
QString FindFileNoCase(const QString& dir, const QString& name);
