#pragma once
// The BBS user directory: the user file "USERFILE.DAT" (data directory) and
// the two handle indexes the server keeps for the BBS's networking,
// "HANDLES.UIP" (main directory) and "HANDLES.FID" (NETDIR of network 4).
// Every call reads the files afresh; nothing is cached between calls.
#include <QString>
#include "server/bbs/BbsConfig.h"
#include "server/bbs/UserRecord.h"

QString UserFilePath(const BbsConfig& bbs);
QString HandlesUipPath(const BbsConfig& bbs);

// Length of the user file divided by 1048; 0 when it is missing.
int32_t UserCount(const BbsConfig& bbs);

// Record `userNumber` (from 1). A file or record that cannot be read gives a
// blank record, sets *failed and is recorded in the error log.
UserRecord GetUser(const BbsConfig& bbs, int32_t userNumber, bool* failed = nullptr);

// The first record whose trimmed handle equals the trimmed name, ignoring
// case; 0 when none. The whole file is searched, however many records.
int32_t FindHandle(const BbsConfig& bbs, const Text& name);

// With a handle: the user number of its first "HANDLES.UIP" line, as text.
// With an empty handle and a user number above 0: that user's first handle.
// "" when nothing matches or the index is missing.
Text ScanHandlesUip(const BbsConfig& bbs, const Text& handle, int32_t userNumber);

// Rebuild the handle indexes from the user file. `autorespondUser` gets the
// names of "AUTORESP.CFG"; `extraNames` holds entries name "," user number
// joined by ";". The previous index is kept as "HANDLES.BAK"; the new one is
// written under a temporary name and renamed into place.
void CreateHandlesUIP(const BbsConfig& bbs, int32_t autorespondUser, const Text& extraNames);
void CreateHandlesFID(const BbsConfig& bbs, int32_t autorespondUser, const Text& extraNames);
