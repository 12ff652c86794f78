#include "updater/BbsFiles.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>

std::optional<QString> ReadMainDirectory(const QString& workDir) {
    QFile file(QDir(workDir).filePath(QStringLiteral("SYSPATHS.CFG")));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray field = file.read(kSysPathsRecordLength).mid(kSysPathsMainDirOffset, kSysPathsFieldWidth);
    QString mainDir = QString::fromLatin1(field.trimmed());
    // A relative directory is relative to where the record lies.
    if (!mainDir.isEmpty() && QDir::isRelativePath(mainDir)) mainDir = QDir(workDir).filePath(mainDir);
    return mainDir;
}

int ReadUpdateTypeSetting(const QString& mainDir) {
    QFile file(QDir(mainDir).filePath(QStringLiteral("ZARVEL.CFG")));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QByteArray record = file.read(kZarvelCfgRecordLength);
    if (record.size() < kZarvelCfgUpdateTypeOffset + 2) return 0;
    const auto low = static_cast<quint8>(record[kZarvelCfgUpdateTypeOffset]);
    const auto high = static_cast<quint8>(record[kZarvelCfgUpdateTypeOffset + 1]);
    return static_cast<qint16>(static_cast<quint16>(low | (high << 8)));
}

QString FindFileNoCase(const QString& dir, const QString& name) {
    const QDir directory(dir);
    if (name.isEmpty()) return {};
    if (QFileInfo(directory.filePath(name)).isFile()) return directory.filePath(name);
    const QStringList files = directory.entryList(QDir::Files | QDir::Hidden);
    for (const QString& file : files)
        if (file.compare(name, Qt::CaseInsensitive) == 0) return directory.filePath(file);
    return {};
}
