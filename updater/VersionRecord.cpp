#include "updater/VersionRecord.h"
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include "updater/CommandLine.h"

static QString RecordPath(const QString& mainDir) { return QDir(mainDir).filePath(QStringLiteral("ZRVDATA.DAT")); }

// Anything beyond this is not ours to keep; the record is only 96 bytes.
static constexpr qint64 kMaxKeptFileSize = 64 * 1024;

Text ReadVersionRecord(const QString& mainDir) {
    QFile file(RecordPath(mainDir));
    Text record;
    if (file.open(QIODevice::ReadOnly)) record = file.read(kVersionRecordLength);
    return record.leftJustified(kVersionRecordLength, ' ', true);
}

std::optional<int> VersionFieldOffset(const Text& program) {
    const Text name = program.trimmed().toUpper();
    for (const VersionField& field : kVersionFields)
        if (name == field.program) return field.offset;
    return std::nullopt;
}

qint64 InstalledBuild(const Text& record, int fieldOffset) {
    const Text version = record.mid(fieldOffset, kVersionFieldWidth).trimmed();
    return LeadingNumber(version.right(6));
}

bool WriteVersionField(const QString& mainDir, int offset, int width, const Text& value) {
    Text content;
    QFile existing(RecordPath(mainDir));
    if (existing.open(QIODevice::ReadOnly)) content = existing.read(kMaxKeptFileSize);
    existing.close();
    if (content.size() < kVersionRecordLength) content = content.leftJustified(kVersionRecordLength, ' ');
    content.replace(offset, width, value.leftJustified(width, ' ', true));

    QSaveFile file(RecordPath(mainDir));
    file.setDirectWriteFallback(true);   // a directory we may not create files in
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(content);
    return file.commit();
}

bool WriteOwnVersion(const QString& mainDir) {
    return WriteVersionField(mainDir, *VersionFieldOffset("ZRVUPDATE"), kVersionFieldWidth, kZrvVersion);
}

bool WriteCheckDate(const QString& mainDir, const QDate& date) {
    return WriteVersionField(mainDir, kCheckDateOffset, kCheckDateWidth,
                             date.toString(QStringLiteral("yyMMdd")).toLatin1());
}
