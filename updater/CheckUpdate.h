#pragma once
// Decides whether one entry of the service's answer is listed.
#include <QSet>
#include <QString>
#include "updater/UpdateEntry.h"

// What a scan knows of the installation, read once per scan.
struct ScanContext {
    Text versionRecord;             // record 1 of "ZRVDATA.DAT"
    QSet<QString> installed;        // upper-cased names of the files in the main directory
    bool oldPurgeProgram = false;   // "ZPURGEDB.EXE" is there and dated before 2006
    bool showAll = false;           // "Show All Current Versions" is checked

    static ScanContext Read(const QString& mainDir, bool showAll);
    // A program counts as installed when its NAME.EXE or a program of that
    // name without extension is in the main directory, or its field of the
    // version record is filled: each program writes its own when it starts,
    // wherever it is installed (osprine and ZRVUpdate live in /usr/bin).
    bool IsInstalled(const Text& program, int fieldOffset) const;
};

// The entry when it is to be listed; nothing when it is skipped (disabled,
// not installed, not newer, ZPURGEDB too old, or malformed: then the reason
// goes to *fault).
std::optional<UpdateEntry> CheckUpdate(const Text& raw, const ScanContext& context, Text* fault);
