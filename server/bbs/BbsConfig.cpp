#include "server/bbs/BbsConfig.h"

#include "server/store/Caches.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/SettledFiles.h"
#include "server/store/Version.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>

namespace {
// The directory on disk that the text names, its letter case found when the
// stored case does not exist; "" when there is none.
QString FindDirOnDisk(const QString& path) {
    if (path.isEmpty() || QFileInfo(path).isDir()) return path;
    QString resolved = path.startsWith('/') ? QStringLiteral("/") : QString();
    for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
        const QString base = resolved.isEmpty() ? QStringLiteral(".") : resolved;
        const QString found = FindNameNoCase(base, part);
        if (found.isEmpty()) return {};
        resolved = PathJoin(resolved, found);
    }
    return QFileInfo(resolved).isDir() ? resolved : QString();
}

// Found directories are kept for a second: they are asked for many times per
// message, and a renamed directory is still seen a second later.
QString FindDir(const Text& dir) {
    struct Answer {
        QString path;
        qint64 until;
    };
    static QHash<Text, Answer> known;
    static QElapsedTimer clock;
    static const CacheForgetter forgetting([] { known.clear(); });
    if (!clock.isValid()) clock.start();
    const qint64 now = clock.elapsed();
    const auto hit = known.constFind(dir);
    if (hit != known.constEnd() && hit->until > now) return hit->path;
    const QString path = PathFromText(dir);
    if (!path.startsWith('/')) return FindDirOnDisk(path);   // relative to a directory that can change
    const QString found = FindDirOnDisk(path);
    if (found.isEmpty()) return found;
    if (known.size() > 256) known.clear();   // directory texts come from a few configuration files
    known.insert(dir, Answer{found, now + 1000});
    return found;
}
}   // namespace

QString ResolveDir(const Text& dir) {
    const QString found = FindDir(dir);
    return found.isEmpty() ? PathFromText(dir) : found;
}

QString BbsConfig::MainDir() const { return ResolveDir(paths.MainDir()); }
QString BbsConfig::DataDir() const { return ResolveDir(paths.DataDir()); }
QString BbsConfig::TempDir() const { return ResolveDir(paths.TempDir()); }
QString BbsConfig::MessageDir() const { return ResolveDir(paths.MessageDir()); }
QString BbsConfig::SpoolDir() const { return ResolveDir(spoolDir); }
QString BbsConfig::SpoolTmpDir() const {
    const QString tmp = FindDir(spoolDir + "/TMP");
    return tmp.isEmpty() ? PathJoin(SpoolDir(), "TMP") : tmp;
}
QString BbsConfig::QueueDir() const { return ResolveDir(queueDir); }

Text EncodeSysPaths(const SysPathsRecord& r) {
    Text bytes;
    for (const Text& f : r.fields) bytes += StrPad(f, 40);
    return bytes;
}

SysPathsRecord DecodeSysPaths(const Text& bytes) {
    SysPathsRecord r;
    for (int i = 0; i < 10; ++i) r.fields[i] = Trim(bytes.mid(i * 40, 40));
    return r;
}

Text EncodeMainCfg(const MainCfgRecord& r) { return StrPad(r.BbsName, 40) + Text(kMainCfgRecordSize - 40, ' '); }

MainCfgRecord DecodeMainCfg(const Text& bytes) { return MainCfgRecord{Trim(bytes.left(40))}; }

bool GetSysPathsCfg(SysPathsRecord& r, const QString& file) {
    bool ok = false;
    const Text bytes = ReadFileBytes(file, &ok);
    if (!ok) {
        LogError("GetSysPathsCfg", kVersion, "modZARV", "Cannot read " + TextFromPath(file));
        return false;
    }
    r = DecodeSysPaths(bytes);
    return true;
}

bool GetMainCfg(MainCfgRecord& r, const QString& mainDir) {
    bool ok = false;
    const Text bytes = ReadFileBytes(PathJoin(mainDir, "MAIN.CFG"), &ok);
    if (!ok) {
        LogError("GetMainCfg", kVersion, "modZARV", "Cannot read MAIN.CFG");
        return false;
    }
    r = DecodeMainCfg(bytes);
    return true;
}

namespace {
QString NetFile(const BbsConfig& bbs, int network) {
    return PathJoin(bbs.DataDir(), "NET." + QString::number(network));
}

// Calls f(upper-cased key, raw value) for each line of a network file.
template <typename F>
void ForEachNetLine(const QString& file, F f) {
    const Text bytes = ReadSettledFile(file);
    for (const Text& line : SplitLines(bytes)) {
        const TextList kv = Explode("=", line, 2, 2);
        if (!f(UCase(Trim(kv[0])), kv[1])) return;
    }
}

Text QueueDirOfRemote(const Text& value) {
    const TextList fields = Explode(" ", Trim(value), 10, 10);
    Text dir = UCase(Trim(Explode(";", Trim(fields[2]), 2, 2)[0]));
    while (dir.endsWith('\\') || (dir.endsWith('/') && dir.size() > 1)) dir = Trim(dir.chopped(1));
    return dir;
}
}   // namespace

Text GetNetEntry(const BbsConfig& bbs, int16_t network, const Text& key) {
    const Text k = UCase(Trim(key));
    if (network < 1 || k.isEmpty()) return {};
    const QString file = NetFile(bbs, network);
    Text value;   // a missing file reads as empty: no line matches
    ForEachNetLine(file, [&](const Text& lineKey, const Text& lineValue) {
        if (lineKey != k) return true;
        value = Trim(lineValue);
        return false;
    });
    return value;
}

Text GetSystemId(const BbsConfig& bbs) { return GetNetEntry(bbs, 9, "SYSTEMID"); }

NetCfgResult ReadNetCfg(BbsConfig& bbs) {
    const QString file = NetFile(bbs, 9);
    if (!FileExists(file)) return NetCfgResult::MissingNet9;
    ForEachNetLine(file, [&](const Text& key, const Text& value) {
        if (key == "SYSTEMID")
            bbs.systemId = Trim(value);
        else if (key == "NETDIR")
            bbs.spoolDir = UCase(Trim(value));
        else if (key == "REMOTE")
            bbs.queueDir = QueueDirOfRemote(value);
        return true;
    });
    if (bbs.systemId.isEmpty()) return NetCfgResult::MissingSystemId;
    const QString spool = bbs.SpoolDir();
    if (spool.isEmpty() || !DirExists(spool)) return NetCfgResult::InvalidSpoolDir;
    if (bbs.queueDir.isEmpty() || !DirExists(bbs.QueueDir())) bbs.queueDir = bbs.paths.TempDir();
    const QString tmp = bbs.SpoolTmpDir();
    if (!DirExists(tmp) && !QDir().mkpath(tmp))
        LogError("LoadNetCfg", kVersion, "modOSPRINE", "Cannot create " + TextFromPath(tmp));
    return NetCfgResult::Ok;
}

Text NetCfgMessage(NetCfgResult result, const BbsConfig& bbs) {
    switch (result) {
    case NetCfgResult::MissingNet9:
        return "Internet (Net 9) has not been configured. Exiting Program.\r\n"
               "In ZConfig goto Network Configuration and install the Internet network.";
    case NetCfgResult::MissingSystemId:
        return "Invalid (missing) Internet system id. Check your configuration.";
    case NetCfgResult::InvalidSpoolDir:
        return bbs.spoolDir + " is an invalid directory! Check your Internet configuration.";
    case NetCfgResult::Ok:
        break;
    }
    return {};
}
