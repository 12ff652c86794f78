#pragma once
// Lists and configuration files are read for every message, so that an edit
// counts from the next one. A file whose status (device, inode, size, change
// and modification times) is the same as when it was last read, and which
// had then been left alone for a while, cannot have changed since: it is
// served from memory after one stat instead of being opened and read again.
#include <QString>
#include "server/store/Text.h"

// Same contract as ReadFileBytes: "" with *ok false on failure, errno set
// (ENOENT for a missing file).
Text ReadSettledFile(const QString& path, bool* ok = nullptr);
// (The copies are a cache: ForgetCaches forgets them.)
