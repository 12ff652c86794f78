#pragma once
// Decides whether one entry of the service's answer is listed.
#include "updater/UpdateEntry.h"
#include <QString>

struct ScanContext {
    QString mainDir;       // the BBS main directory
    Text versionRecord;    // record 1 of "ZRVDATA.DAT"
    bool showAll = false;  // "Show All Current Versions" is checked
};

// The entry when it is to be listed; nothing when it is skipped (disabled,
// not installed, not newer, ZPURGEDB too old, or malformed: a malformed entry
// is also recorded in the error log).
std::optional<UpdateEntry> CheckUpdate(const Text& raw, const ScanContext& context);
