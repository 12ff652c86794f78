// The server's own records as found on disk: the settings record
// "OSPRINE.CFG" (any length: short files are upgraded), the window record
// "OSPRINE.DAT", the statistics "OSPRSTAT.DAT" and the BBS's "MAIN.CFG".
// Input: parts cut at "\0\xff" in that order.
#include "fuzz/FuzzSupport.h"
#include "server/shell/Configuration.h"
#include "server/store/Files.h"

#include <QDir>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInstall& install = FuzzInstall::Get();
    const TextList p = FuzzParts(data, size, 4);

    // The record decoders on the bytes alone.
    SettingsRecord decoded;
    DecodeSettings(p[0], decoded);
    UpgradeSettings(decoded, p[0].size());
    ApplyRangeChecks(decoded);
    const Text encoded = EncodeSettings(decoded);
    if (encoded.size() != kSettingsRecordSize) std::abort();
    // A checked record that is saved and read back stays the same record.
    SettingsRecord again;
    DecodeSettings(encoded, again);
    ApplyRangeChecks(again);
    if (EncodeSettings(again) != encoded) std::abort();

    const WindowRecord w = DecodeWindow(p[1]);
    if (EncodeWindow(w).size() != kWindowRecordSize) std::abort();

    Statistics stats;
    DecodeStats(p[2], stats);
    FormatKB(stats.KBReceived);
    FormatKB(stats.KBSent);
    if (EncodeStats(stats).size() != kStatsRecordSize) std::abort();

    // The whole start-up read of the files, from the installation's directory.
    const QString main = install.layout.mainDir;
    QDir::setCurrent(main);
    WriteScratchFile(PathJoin(main, "OSPRINE.CFG"), p[0]);
    WriteScratchFile(PathJoin(main, "MAIN.CFG"), p[3]);
    SettingsRecord loaded;
    BbsConfig bbs;
    LoadSettings(loaded, bbs, install.log);
    LoadCfgMessage(LoadCfgResult::NoMainCfg, bbs);
    return 0;
}
