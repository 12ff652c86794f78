#pragma once
// Header and address procedures (module modOSPRINE). They work on a whole
// message, lines ended by CR LF; the attachment section (from the first
// CR LF + "Content-Type: application") is set aside and returned unchanged.
#include "server/store/Text.h"

// Position of the attachment section, or -1.
qsizetype AttachmentStart(const Text& message);

Text GetHeaderField(const Text& name, const Text& message);
Text ChangeHeaderField(const Text& name, const Text& value, const Text& message, bool addIfMissing);
Text GetPath(const Text& address);
