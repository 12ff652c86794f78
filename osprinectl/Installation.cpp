#include "osprinectl/Installation.h"
#include <QDir>
#include "server/lists/InetNetwork.h"
#include "server/lists/ListMembers.h"
#include "server/lists/MailingListFile.h"
#include "server/store/Files.h"

bool Installation::Load(const QString& directory, Text& why) {
    dir = QDir(directory).absolutePath();
    const QString sysPaths = QDir(dir).filePath("SYSPATHS.CFG");
    if (!QFileInfo::exists(sysPaths)) {
        why = "no BBS installation in " + dir.toLocal8Bit() +
              " (SYSPATHS.CFG is missing); give its main directory with -d";
        return false;
    }
    if (!Readable(sysPaths, why)) return false;
    // Relative paths in the BBS's files are relative to the main directory, as for the server.
    QDir::setCurrent(dir);
    if (!GetSysPathsCfg(bbs.paths, sysPaths) || !QFileInfo(MainDir()).isDir()) {
        why = "SYSPATHS.CFG in " + dir.toLocal8Bit() + " names no main directory that exists";
        return false;
    }
    GetMainCfg(bbs.main, MainDir());
    netLoaded = ReadNetCfg(bbs) == NetCfgResult::Ok;
    return true;
}

bool Installation::Readable(const QString& file, Text& why) {
    const Text reason = UnreadableReason(file);
    if (reason.isEmpty()) return true;
    why = "cannot read " + QFileInfo(file).absoluteFilePath().toLocal8Bit() + ": " + reason;
    return false;
}

bool Installation::FilesReadable(Text& why) const {
    for (const QString& file : {PathJoin(MainDir(), "MAIN.CFG"), SettingsPath(MainDir()), KeyedList()})
        if (!Readable(file, why)) return false;
    return true;
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

bool Installation::RefuseLinks(Text& why) const {
    QStringList written{SettingsPath(MainDir()), KeyedList(), TwitListPath(bbs), Net9Path(bbs)};
    const QString spool = MailingListSpoolDir(bbs);
    if (!spool.isEmpty()) written << ListservPath(spool);
    for (const QString& path : written) {
        if (!IsSymbolicLink(path)) continue;
        why = "refused: " + path.toLocal8Bit() + " is a symbolic link (nothing was written)";
        return false;
    }
    return true;
}
