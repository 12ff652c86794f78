#pragma once
// The BBS's own configuration: "SYSPATHS.CFG" (400 bytes), "MAIN.CFG"
// (372 bytes) and the network files "NET." + n in the data directory.
#include <QString>
#include "server/store/Text.h"

struct SysPathsRecord {
    Text fields[10];   // ten 40-byte text fields, trimmed
    Text MainDir() const { return fields[0]; }
    Text DataDir() const { return fields[2]; }
    Text TempDir() const { return fields[6]; }
    Text MessageDir() const { return fields[7]; }
};
inline constexpr int kSysPathsRecordSize = 400;
inline constexpr int kMainCfgRecordSize = 372;

struct MainCfgRecord {
    Text BbsName;   // first field, 40 bytes, trimmed
};

// Process-wide BBS configuration, owned by LoadCfg and LoadNetCfg.
struct BbsConfig {
    SysPathsRecord paths;
    MainCfgRecord main;
    Text systemId;   // SYSTEMID of NET.9, as written
    Text spoolDir;   // NETDIR of NET.9, upper-cased as stored
    Text queueDir;   // outbound queue directory from REMOTE

    QString MainDir() const;
    QString DataDir() const;
    QString TempDir() const;
    QString MessageDir() const;
    QString SpoolDir() const;
    QString SpoolTmpDir() const;   // spool + "/TMP"
    QString QueueDir() const;
};

Text EncodeSysPaths(const SysPathsRecord& r);
SysPathsRecord DecodeSysPaths(const Text& bytes);
Text EncodeMainCfg(const MainCfgRecord& r);   // the other 332 bytes are spaces
MainCfgRecord DecodeMainCfg(const Text& bytes);

bool GetSysPathsCfg(SysPathsRecord& r, const QString& file);
bool GetMainCfg(MainCfgRecord& r, const QString& mainDir);

// Trimmed value of the first line of NET.n whose key matches; "" otherwise.
Text GetNetEntry(const BbsConfig& bbs, int16_t network, const Text& key);
Text GetSystemId(const BbsConfig& bbs);

// A directory text of a BBS file, with case kept as stored: the path is
// found on disk ignoring letter case when the stored case does not exist.
QString ResolveDir(const Text& dir);

enum class NetCfgResult { Ok, MissingNet9, MissingSystemId, InvalidSpoolDir };
// Reads NET.9 into bbs, checks it and prepares the spool's TMP directory.
NetCfgResult ReadNetCfg(BbsConfig& bbs);
Text NetCfgMessage(NetCfgResult result, const BbsConfig& bbs);
