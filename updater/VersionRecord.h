#pragma once
// The version record "ZRVDATA.DAT" in the BBS main directory: one record of
// 96 bytes, shared by the programs of the BBS family; each writes its own
// fixed-width, space-padded field.
#include <QDate>
#include <QString>
#include <optional>
#include "updater/ZrvConstants.h"

inline constexpr int kVersionRecordLength = 96;
inline constexpr int kCheckDateOffset = 0;   // "yymmdd" of the last check that found updates
inline constexpr int kCheckDateWidth = 6;
inline constexpr int kVersionFieldWidth = 15;

struct VersionField {
    const char* program;   // the program name the update service uses
    int offset;
};
inline constexpr VersionField kVersionFields[] = {
    {"ZRVUPDATE", 6}, {"ZARVEL", 21}, {"OSPRINE", 36}, {"ZRCHAT", 51}, {"ZPOST", 66}, {"ZPURGEDB", 81},
};

// Record 1, padded with spaces when the file is missing or short.
Text ReadVersionRecord(const QString& mainDir);

// The offset of the program's version field, or nothing for a name outside the table.
std::optional<int> VersionFieldOffset(const Text& program);

// The installed build number: the last six characters of the program's field,
// read as a number.
qint64 InstalledBuild(const Text& record, int fieldOffset);

// Puts the text, padded or cut to the width, into record 1, leaving the other
// fields as they are. The file is replaced whole, never left half-written.
bool WriteVersionField(const QString& mainDir, int offset, int width, const Text& value);

bool WriteOwnVersion(const QString& mainDir);
bool WriteCheckDate(const QString& mainDir, const QDate& date);
