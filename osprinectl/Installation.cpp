#include "osprinectl/Installation.h"
#include <QDir>
#include "server/lists/InetNetwork.h"
#include "server/lists/ListMembers.h"
#include "server/lists/MailingListFile.h"
#include "server/store/Files.h"

std::optional<Text> Installation::Load(const QString& directory) {
    dir = QDir(directory).absolutePath();
    const QString sysPaths = QDir(dir).filePath("SYSPATHS.CFG");
    if (!QFileInfo::exists(sysPaths))
        return "no BBS installation in " + dir.toLocal8Bit() +
               " (SYSPATHS.CFG is missing); give its main directory with -d";
    if (std::optional<Text> why = Readable(sysPaths)) return why;
    // Relative paths in the BBS's files are relative to the main directory, as for the server.
    QDir::setCurrent(dir);
    if (!GetSysPathsCfg(bbs.paths, sysPaths) || !QFileInfo(MainDir()).isDir())
        return "SYSPATHS.CFG in " + dir.toLocal8Bit() + " names no main directory that exists";
    GetMainCfg(bbs.main, MainDir());
    netLoaded = ReadNetCfg(bbs) == NetCfgResult::Ok;
    return std::nullopt;
}

std::optional<Text> Installation::Readable(const QString& file) {
    const Text reason = UnreadableReason(file);
    if (reason.isEmpty()) return std::nullopt;
    return "cannot read " + QFileInfo(file).absoluteFilePath().toLocal8Bit() + ": " + reason;
}

std::optional<Text> Installation::FilesReadable() const {
    for (const QString& file : {PathJoin(MainDir(), "MAIN.CFG"), SettingsPath(MainDir()), KeyedList()})
        if (std::optional<Text> why = Readable(file)) return why;
    return std::nullopt;
}

SettingsRecord Installation::LoadSettings() const {
    SettingsRecord r;
    bool ok = false;
    const Text bytes = ReadFileBytes(SettingsPath(MainDir()), &ok);
    if (ok) {
        DecodeSettings(bytes, r);
        UpgradeSettings(r, bytes.size());
    }
    ApplyRangeChecks(r);
    return r;
}

std::optional<Text> Installation::RefuseLinks() const {
    QStringList written{SettingsPath(MainDir()), KeyedList(), TwitListPath(bbs), Net9Path(bbs)};
    const QString spool = MailingListSpoolDir(bbs);
    if (!spool.isEmpty()) written << ListservPath(spool);
    for (const QString& path : written)
        if (IsSymbolicLink(path)) return "refused: " + path.toLocal8Bit() + " is a symbolic link (nothing was written)";
    return std::nullopt;
}
