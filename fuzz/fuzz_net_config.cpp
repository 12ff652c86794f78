// The BBS's Internet network file "NET.9" with any content: the system id,
// the spool directory, the REMOTE entry with the outbound queue directory,
// and the lookup of any key. Input: parts cut at "\0\xff": file, key.
#include "fuzz/FuzzSupport.h"
#include "server/store/Files.h"

#include <QDir>

namespace {
// NETDIR names a directory the reader creates "TMP" in; the fuzzer's
// directories are kept inside the installation by rooting every NETDIR
// value there (inputs that climb out with ".." are skipped).
bool RootSpoolDirs(Text& file, const Text& root) {
    TextList lines = file.split('\n');
    for (Text& line : lines) {
        const TextList kv = Explode("=", line, 2, 2);
        if (UCase(Trim(kv[0])) != "NETDIR") continue;
        if (kv[1].contains("..")) return false;
        line = kv[0] + "=" + root + "/" + kv[1];
    }
    file = lines.join('\n');
    return true;
}
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInstall& install = FuzzInstall::Get();
    TextList p = FuzzParts(data, size, 2);
    const QString dataDir = PathJoin(install.Scratch(), "DATA");
    QDir().mkpath(dataDir);
    if (!RootSpoolDirs(p[0], TextFromPath(install.Scratch()))) return 0;
    WriteScratchFile(PathJoin(dataDir, "NET.9"), p[0]);

    BbsConfig bbs;
    bbs.paths.fields[0] = TextFromPath(install.layout.mainDir);
    bbs.paths.fields[2] = TextFromPath(dataDir);
    bbs.paths.fields[6] = TextFromPath(install.layout.tempDir);
    const NetCfgResult result = ReadNetCfg(bbs);
    NetCfgMessage(result, bbs);
    bbs.QueueDir();
    bbs.SpoolTmpDir();
    GetSystemId(bbs);
    GetNetEntry(bbs, 9, p[1]);
    GetNetEntry(bbs, 9, "REMOTE");
    return 0;
}
