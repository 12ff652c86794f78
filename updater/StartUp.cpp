#include "updater/StartUp.h"
#include "updater/BbsFiles.h"
#include "updater/CommandLine.h"
#include "updater/ErrorLog.h"
#include "updater/UpdateTypes.h"
#include "updater/VersionRecord.h"

StartOptions ReadStartOptions(const QStringList& arguments) {
    StartOptions options;
    const QString quiet = GetCommandLine(arguments, QStringLiteral("/QUIET"));
    options.quiet = !quiet.isEmpty() && quiet != QLatin1String("0");
    const qint64 type = LeadingNumber(GetCommandLine(arguments, QStringLiteral("/TYPE")).toLatin1());
    options.typeOption = static_cast<int>(qBound(qint64{-32768}, type, qint64{32767}));
    return options;
}

std::optional<QString> PrepareInstallation(const QString& workDir) {
    const auto mainDir = ReadMainDirectory(workDir);
    if (!mainDir) return std::nullopt;
    if (!WriteOwnVersion(*mainDir))
        LogError("Form_Load", kZrvVersion, kFrmMain, "Cannot write the version record ZRVDATA.DAT");
    return mainDir;
}

int ResolveUpdateType(const StartOptions& options, const QString& mainDir) {
    int type = options.typeOption;
    if (type == 0) type = ReadUpdateTypeSetting(mainDir);
    return NormalUpdateType(type == 0 ? 3 : type);
}
