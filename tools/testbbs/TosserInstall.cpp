#include "tools/testbbs/TosserInstall.h"

#include "server/store/Files.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

QString ProgramDir() {
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo("/proc/self/exe").canonicalFilePath()).path();
}

bool IsProgram(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

}   // namespace

QString FindTosserBinary(const QString& explicitPath) {
    if (!explicitPath.isEmpty()) return IsProgram(explicitPath) ? explicitPath : QString();
    const QString beside = PathJoin(ProgramDir(), kTosserName);
    if (IsProgram(beside)) return beside;
    // The Debian package installs it under a name of its own.
    const QString packaged = PathJoin(ProgramDir(), "osprine-tosser");
    if (IsProgram(packaged)) return packaged;
    const QString bin = qEnvironmentVariable("OSPRINE_BIN");
    if (!bin.isEmpty() && IsProgram(PathJoin(bin, kTosserName))) return PathJoin(bin, kTosserName);
    return {};
}

bool InstallTosser(const QString& binary, const QString& mainDir, QString* error) {
    const QString target = PathJoin(mainDir, kTosserName);
    const QString partial = target + ".new";
    QFile::remove(partial);
    const bool copied =
        QFile::copy(binary, partial) &&
        QFile::setPermissions(partial, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                           QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    if (copied && std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    QFile::remove(partial);
    if (error) *error = "cannot install " + binary + " as " + target;
    return false;
}
