#include "updater/CheckUpdate.h"
#include <QDir>
#include <QFileInfo>
#include "updater/BbsFiles.h"
#include "updater/VersionRecord.h"

ScanContext ScanContext::Read(const QString& mainDir, bool showAll) {
    ScanContext context;
    context.versionRecord = ReadVersionRecord(mainDir);
    context.showAll = showAll;
    const QStringList files = QDir(mainDir).entryList(QDir::Files | QDir::Hidden);
    for (const QString& file : files) context.installed.insert(file.toUpper());
    // The old purge program (dated before 2006) cannot take the new versions.
    const QString purge = FindFileNoCase(mainDir, QStringLiteral("ZPURGEDB.EXE"));
    context.oldPurgeProgram = !purge.isEmpty() && QFileInfo(purge).lastModified().date().year() < 2006;
    return context;
}

bool ScanContext::IsInstalled(const Text& program, int fieldOffset) const {
    const QString name = QString::fromLatin1(program.toUpper());
    if (installed.contains(name + ".EXE") || installed.contains(name)) return true;
    return !versionRecord.mid(fieldOffset, kVersionFieldWidth).trimmed().isEmpty();
}

std::optional<UpdateEntry> CheckUpdate(const Text& raw, const ScanContext& context, Text* fault) {
    if (raw.trimmed().isEmpty()) return std::nullopt;   // the text after a closing ";"
    const auto parsed = ParseUpdateEntry(raw);
    if (!parsed) {
        *fault = "Invalid update entry";
        return std::nullopt;
    }
    const UpdateEntry& entry = *parsed;
    if (entry.enabled != 1) return std::nullopt;

    const auto fieldOffset = VersionFieldOffset(entry.program);
    if (!fieldOffset) {
        *fault = "Unknown program " + entry.program.left(40);
        return std::nullopt;
    }
    const Text program = entry.program.toUpper();
    if (!context.showAll && !context.IsInstalled(program, *fieldOffset)) return std::nullopt;
    if (program == "ZPURGEDB" && context.oldPurgeProgram) return std::nullopt;

    const qint64 installed = InstalledBuild(context.versionRecord, *fieldOffset);
    if (entry.version <= 0) return std::nullopt;
    if (entry.version > installed || context.showAll) return entry;
    return std::nullopt;
}
