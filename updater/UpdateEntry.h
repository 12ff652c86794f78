#pragma once
// One entry of the update service's answer: ten comma-separated fields.
#include <QList>
#include <optional>
#include "updater/ZrvConstants.h"

inline constexpr int kEntryFieldCount = 10;

struct UpdateEntry {
    Text raw;              // the entry's text as the service sent it
    qint64 enabled = 0;    // field 1: 1 when the entry is to be considered
    Text product;          // field 2: product directory on the service
    Text historyFile;      // field 3
    Text notesFile;        // field 4
    Text versionText;      // field 5 as sent
    qint64 version = 0;    // field 5 as a number
    Text fileName;         // field 6: the download's file name
    qint64 fileSize = 0;   // field 7, bytes
    Text md5;              // field 8
    Text program;          // field 9: program name of the version record
    Text description;      // field 10

    Text VersionColumn() const { return "." + versionText; }
    Text SizeText() const;
};

// The entries of an answer, in order (separated by ";").
QList<Text> SplitEntries(const Text& answer);

// Reads an entry; nothing when it has fewer than ten fields or a version or
// size that is not a plain number.
std::optional<UpdateEntry> ParseUpdateEntry(const Text& raw);

// Size as the details show it: bytes up to 1000, then KB, above 1000000 MB
// (decimal thresholds, binary divisors, two decimals at most).
Text FormatFileSize(qint64 bytes);

// True for a name that can stand as one segment of a download path: not
// empty, no "/", "\", "..", "?", "#", "@", ":" and no control characters.
bool IsPlainPathSegment(const Text& segment);
