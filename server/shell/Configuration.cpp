#include "server/shell/Configuration.h"

#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"
#include "server/store/Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// Record 1 of a record file and the file's length; nothing past the record
// is read, however long the file has grown.
bool ReadRecord(const QString& path, int recordSize, Text& bytes, qint64& length) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    length = f.size();
    bytes = f.read(recordSize);
    return f.error() == QFileDevice::NoError;
}

void LoadError(EventLog& log, const Text& description) {
    log.ShowEvent("Error: Error While Loading OSPRINE.CFG");
    LogError("LoadCfg", kVersion, "modOSPRINE", description);
}

// A file that exists but cannot be read is named with the system's reason;
// it is never taken for a missing one.
bool Unreadable(const QString& file, Text* problem) {
    const Text why = UnreadableReason(file);
    if (why.isEmpty()) return false;
    if (problem) *problem = "Cannot read " + TextFromPath(QFileInfo(file).absoluteFilePath()) + ": " + why;
    return true;
}
}   // namespace

LoadCfgResult LoadSettings(SettingsRecord& settings, BbsConfig& bbs, EventLog& log, Text* problem) {
    if (!FileExists("SYSPATHS.CFG")) return LoadCfgResult::NoSysPaths;
    if (Unreadable("SYSPATHS.CFG", problem)) return LoadCfgResult::ReadError;
    GetSysPathsCfg(bbs.paths, QDir::current().filePath("SYSPATHS.CFG"));
    const QString mainDir = bbs.MainDir();
    if (!DirExists(mainDir)) return LoadCfgResult::InvalidMainDir;
    QDir::setCurrent(mainDir);
    log.SetMainDir(mainDir);
    const QString mainCfg = PathJoin(mainDir, "MAIN.CFG");
    if (!FileExists(mainCfg)) return LoadCfgResult::NoMainCfg;
    const QString file = SettingsPath(mainDir);
    // Nothing is taken from any of them while one cannot be read: the
    // running settings stay as they are.
    for (const QString& f : {mainCfg, file, KeyedListPath(mainDir)})
        if (Unreadable(f, problem)) {
            LoadError(log, problem ? *problem : Text("Cannot read " + TextFromPath(f)));
            return LoadCfgResult::ReadError;
        }
    GetMainCfg(bbs.main, mainDir);

    if (!FileExists(file)) {
        if (!WriteSettingsFile(mainDir, SettingsRecord{})) {
            if (problem) *problem = "Cannot create " + TextFromPath(file);
            LoadError(log, "Cannot create OSPRINE.CFG");
            return LoadCfgResult::ReadError;
        }
        PutData("relaydb", kDefaultRelayDb, KeyedListPath(mainDir));
    }
    Text bytes;
    qint64 length = 0;
    if (!ReadRecord(file, kSettingsRecordSize, bytes, length)) {
        if (problem) *problem = "Cannot read " + TextFromPath(file);
        LoadError(log, "Cannot read OSPRINE.CFG");
        return LoadCfgResult::ReadError;
    }
    DecodeSettings(bytes, settings);
    UpgradeSettings(settings, length);
    if (length < kSettingsRelayDbBelow) PutData("relaydb", kDefaultRelayDb, KeyedListPath(mainDir));
    if (length < kSettingsRecordSize) SaveSettings(settings, bbs, log);
    ApplyRangeChecks(settings);
    return LoadCfgResult::Ok;
}

Text LoadCfgMessage(LoadCfgResult result, const BbsConfig& bbs) {
    switch (result) {
    case LoadCfgResult::NoSysPaths:
        return "Cannot find SYSPATHS.CFG! Make sure OSPRINE.EXE is in your ZARV main directory.";
    case LoadCfgResult::InvalidMainDir:
        return bbs.paths.MainDir() + " is an invalid directory! Check your path settings in ZConfig.";
    case LoadCfgResult::NoMainCfg:
        return "Cannot find " + bbs.paths.MainDir() + "/MAIN.CFG! Check your path settings in ZConfig.";
    case LoadCfgResult::Ok:
    case LoadCfgResult::ReadError:
        break;
    }
    return {};
}

bool SaveSettings(const SettingsRecord& settings, const BbsConfig& bbs, EventLog& log) {
    if (WriteSettingsFile(bbs.MainDir(), settings)) return true;
    log.ShowEvent("Error: Error While Saving OSPRINE.CFG");
    log.OsprineLog(0, "Error While Saving OSPRINE.CFG");
    LogError("SaveCfg", kVersion, "modOSPRINE", "Cannot write OSPRINE.CFG");
    return false;
}

bool WriteVersionRecord(const QString& mainDir) {
    const QString file = PathJoin(mainDir, "ZRVDATA.DAT");
    Text bytes = ReadFileBytes(file);   // anything past the record stays as it is
    if (bytes.size() < kVersionRecordSize) bytes.append(Text(kVersionRecordSize - bytes.size(), ' '));
    bytes.replace(kVersionFieldOffset, 15, StrPad(kVersion, 15));
    // The BBS family's other programs write their own fields of it.
    if (WriteFileAtomic(file, bytes, kSharedFile)) return true;
    LogError("WriteVersionRecord", kVersion, "frmMain", "Cannot write ZRVDATA.DAT");
    return false;
}
