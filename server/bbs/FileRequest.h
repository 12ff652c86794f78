#pragma once
// Files that remote users may request by mail: the magic names of
// "MAGIC.FID" (NETDIR of network 4) and the file areas of "DATABASE.CFG"
// whose file-request switch is 1.
#include <QString>
#include "server/bbs/BbsConfig.h"

inline constexpr int kFileAreaRecordLength = 131;

// The full path of the requested file, or "" when it is not found. Magic
// names are looked up first, then the areas in order. Names match file names
// regardless of letter case. A name holding "/", "\", ":", ".." or a control
// character is never found, so a request cannot reach outside the file
// areas; a magic name must lead to a regular file.
QString GetFreqFile(const BbsConfig& bbs, const Text& name);
