#include "tools/mailbase/Installation.h"

#include "server/store/Files.h"

QString LoadInstallation(const QString& mainDir, Installation& in) {
    if (!GetSysPathsCfg(in.bbs.paths, PathJoin(mainDir, "SYSPATHS.CFG")))
        return "cannot read SYSPATHS.CFG in " + mainDir;
    in.bbs.spoolDir = GetNetEntry(in.bbs, 9, "NETDIR");
    if (in.bbs.spoolDir.isEmpty()) return "NET.9 names no spool directory (NETDIR)";
    in.tmpDir = in.bbs.SpoolTmpDir();
    in.localSystem = GetNetEntry(in.bbs, 1, "SYSTEMID");
    return {};
}
