#pragma once
// Message files "V" + n + ".D" (n from 1 to 1000): the inbound hand-off files,
// the outbound queue files and the scanner's scratch files. Other programs
// pick them up by the pattern "*.D", so a file is written under a name that
// does not match it and only then linked to its final name, which is never
// taken from an existing file.
#include <QString>
#include <cstdint>
#include <memory>
#include "server/store/DiskQueue.h"
#include "server/store/Text.h"

inline constexpr int kMaxMessageNumber = 1000;

// "V" + n + ".D"
QString MessageFileName(int n);

// The lowest n from 1 to 1000 for which no "V" + n + ".D" exists in the
// directory, names compared regardless of case; 0 when all are taken.
int16_t GetNextMessageNumber(const QString& directory);

// Writes the pieces, one after another, as a new file "V" + n + ".D" in the
// directory with the lowest free n. Returns n once the file and its name are
// on stable storage (the file synced before its rename, the directory after
// it), or 0 when no number is free or the file could not be written
// (nothing is left behind then).
int WriteNewMessageFile(const QString& directory, const TextList& pieces);
// The same as a job for the disk thread: *number receives n (0 on failure).
DiskJob NewMessageFileJob(const QString& directory, const TextList& pieces, std::shared_ptr<int> number);
// Replaces an existing message file by the content in one atomic step (the
// content synced before the rename, the directory after it).
bool ReplaceMessageFile(const QString& path, const Text& content);
inline int WriteNewMessageFile(const QString& directory, const Text& content) {
    return WriteNewMessageFile(directory, TextList{content});
}

// Removes the temporary files that a server which ended in the middle of a
// write left in the directory: those named for a process that is gone.
// Returns how many were removed.
int RemoveStaleMessageTemporaries(const QString& directory);
