#include "updater/CheckUpdate.h"
#include "updater/BbsFiles.h"
#include "updater/ErrorLog.h"
#include "updater/VersionRecord.h"
#include <QFileInfo>

static void LogSkipped(const Text& reason) { LogError("CheckUpdate", kZrvVersion, kModZRVUpdate, reason); }

// The old purge program (dated before 2006) cannot take the new versions.
static bool IsOldPurgeProgram(const QString& mainDir) {
    const QString path = FindFileNoCase(mainDir, QStringLiteral("ZPURGEDB.EXE"));
    return !path.isEmpty() && QFileInfo(path).lastModified().date().year() < 2006;
}

std::optional<UpdateEntry> CheckUpdate(const Text& raw, const ScanContext& context) {
    if (raw.trimmed().isEmpty()) return std::nullopt;  // the text after a closing ";"
    const auto parsed = ParseUpdateEntry(raw);
    if (!parsed) {
        LogSkipped("Invalid update entry");
        return std::nullopt;
    }
    const UpdateEntry& entry = *parsed;
    if (entry.enabled != 1) return std::nullopt;

    const auto fieldOffset = VersionFieldOffset(entry.program);
    if (!fieldOffset) {
        LogSkipped("Unknown program " + entry.program.left(40));
        return std::nullopt;
    }
    const QString program = QString::fromLatin1(entry.program);
    if (!context.showAll && FindFileNoCase(context.mainDir, program + QStringLiteral(".EXE")).isEmpty())
        return std::nullopt;
    if (entry.program.toUpper() == "ZPURGEDB" && IsOldPurgeProgram(context.mainDir)) return std::nullopt;

    const qint64 installed = InstalledBuild(context.versionRecord, *fieldOffset);
    if (entry.version <= 0) return std::nullopt;
    if (entry.version > installed || context.showAll) return entry;
    return std::nullopt;
}
