#pragma once
// Finds the parts of a BBS installation the tools work on, from its
// "SYSPATHS.CFG" and network files.
#include <QString>
#include "server/bbs/BbsConfig.h"

struct Installation {
    BbsConfig bbs;      // paths, and spoolDir from NETDIR of network 9
    QString tmpDir;     // the spool's "TMP": inbound hand-off files
    Text localSystem;   // SYSTEMID of network 1
};

// Reads mainDir/SYSPATHS.CFG and the network files; "" or why it failed.
// Directories written relative in the records are relative to the current
// directory, which for every program of the installation is the main one.
QString LoadInstallation(const QString& mainDir, Installation& in);
