#pragma once
// Writes into files that must be on stable storage before the server
// answers for them (the BBS's e-mail base, spool and counters). Each call
// syncs what it wrote; a call that fails leaves the file as it was (an
// append is cut back to the old length) and says why in *error.
#include <QString>
#include "server/store/Text.h"

// Appends the bytes and syncs them. *start receives the file's length before
// the append (the new bytes' offset). With maxLength >= 0 an append that
// would make the file longer than that is refused.
bool AppendDurably(const QString& path, const Text& bytes, qint64* start, QString* error, qint64 maxLength = -1);
// Writes the bytes at the offset and syncs them; the file is created when missing.
bool WriteDurablyAt(const QString& path, qint64 offset, const Text& bytes, QString* error);
// Cuts the file back to `length` and syncs it: the undo of an append.
bool CutBackDurably(const QString& path, qint64 length);
// Syncs a directory, so that a name made or changed in it survives a power cut.
bool SyncDirectory(const QString& directory);
// "path: " + the system's text for errno, for the error log.
QString SystemError(const QString& path);
// fdatasync(2) of an open file: true when its data is on stable storage.
// Every sync of the server goes through here; a build made for measuring
// the cost of durability (OSPRINE_NO_FSYNC, never a release) skips them.
bool SyncFileData(int fd);
