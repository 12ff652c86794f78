#pragma once
// File and directory helpers. Paths are QStrings joined with "/".
#include <sys/types.h>
#include <QString>
#include <QStringList>
#include "server/store/Text.h"

struct stat;

QString PathJoin(const QString& dir, const QString& name);
QString PathFromText(const Text& bytes);   // a path stored in a BBS record
Text TextFromPath(const QString& path);

// With "*" or "?" in the path (or wildcard = true) they answer whether a
// search for the pattern finds anything; names match regardless of case.
bool FileExists(const QString& path, bool wildcard = false);
bool DirExists(const QString& path, bool wildcard = false);

// Names in `dir` matching a pattern such as "*.D" or "BT*.FLG", ignoring case, sorted by name.
QStringList ListFiles(const QString& dir, const QString& pattern);
// The entry of `dir` whose name equals `name` ignoring case, or "" when none.
QString FindNameNoCase(const QString& dir, const QString& name);

Text ReadFileText(const QString& path);   // cut at the first NUL; "" on failure
// `opened`, when given, receives the status of the file as opened, before
// its bytes were read.
Text ReadFileBytes(const QString& path, bool* ok = nullptr, struct stat* opened = nullptr);
// Why a file that exists cannot be read ("Permission denied", "Is a
// directory", an I/O error); "" when it can be read or does not exist.
Text UnreadableReason(const QString& path);
// Makes a new, empty file; false when the name exists already, even as a
// link (which is never followed).
bool CreateExclusive(const QString& path);
// Modes of the files the server makes: never any access for others. The
// files the BBS's own programs write as well (its mail and user files) give
// the group what the owner has.
constexpr mode_t kPrivateFile = 0600;
constexpr mode_t kSharedFile = 0660;

// True when `path` is itself a symbolic link.
bool IsSymbolicLink(const QString& path);
// Replaces the file's content through a temporary file made beside it under
// a name of its own, synced and renamed into place. A file that exists keeps
// its mode; a new one gets `newMode` (less the umask). A target that is a
// symbolic link is never written through: false with errno ELOOP.
bool WriteFileAtomic(const QString& path, const Text& bytes, mode_t newMode = kPrivateFile);
// The same for a file that holds passwords: readable by its owner only,
// from the first byte on, even where the file had a wider mode.
bool WriteSecretFileAtomic(const QString& path, const Text& bytes);
// The same without waiting for the disk: for a record rewritten many times
// a second (the traffic counters), where a power cut may cost the last
// change but never leaves half a file.
bool WriteFileAtomicUnsynced(const QString& path, const Text& bytes);
// The design's WriteFileText: keepExisting leaves an existing file alone.
bool WriteFileText(const QString& path, const Text& text, bool keepExisting);
// Appends to the file (made with no access for others when missing); a link is not followed.
bool AppendFile(const QString& path, const Text& bytes);
bool RemoveFile(const QString& path);
qint64 FileLength(const QString& path);   // -1 when missing
