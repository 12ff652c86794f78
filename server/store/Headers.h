#pragma once
// Header and address procedures (module modOSPRINE). They work on a whole
// message, lines ended by CR LF; the attachment section (from the first
// CR LF + "Content-Type: application") is set aside and returned unchanged.
#include <QByteArrayView>
#include "server/store/Text.h"

// Position of the attachment section, or -1.
qsizetype AttachmentStart(const Text& message);

Text GetHeaderField(const Text& name, const Text& message);
Text ChangeHeaderField(const Text& name, const Text& value, const Text& message, bool addIfMissing);
Text GetPath(const Text& address);

// The outbound queue's tracking headers. Only this server writes them.
inline constexpr const char* kProcessedHeader = "X-OSPRINE-Processed";
inline constexpr const char* kAttemptsHeader = "X-OSPRINE-Attempts";
inline constexpr const char* kStatusHeader = "X-OSPRINE-Status";
// The upstream's last reply or the client's reason why the message is still
// queued, for the sysop's queue listing.
inline constexpr const char* kLastStatusHeader = "X-OSPRINE-Last-Status";
// When the message entered the queue (its file's time at the first
// preparation, which rewrites the file).
inline constexpr const char* kQueuedHeader = "X-OSPRINE-Queued";

// The header block without the named fields (letter case ignored), their
// continuation lines included.
Text RemoveHeaderFields(const Text& head, const TextList& names);
// How many lines of the header (up to its first blank line) name the field.
int CountHeaderFields(QByteArrayView head, const Text& name);
