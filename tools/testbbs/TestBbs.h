#pragma once
// Builds a complete test installation of the BBS in a directory: the system
// paths, main configuration, user base, network files, spool, lists, file
// areas and the server's own settings file. Used by the osprine-mkbbs tool,
// the demo and the tests.
#include <QByteArray>
#include <QString>

struct TestBbsOptions {
    int users = 12;                           // listed users (plus a deleted and a level-0 record)
    QByteArray systemId = "bbs.example";      // Internet system id (SYSTEMID of NET.9)
    int port = 2525;                          // SMTP port in OSPRINE.CFG
    bool esmtp = false;                       // keyed setting "esmtp" = 1: EHLO offers the extensions
    bool writeSettings = true;                // write OSPRINE.CFG
    bool installTosser = true;                // copy the substitute tosser as ZUUCP.EXE
    QString tosserPath;                       // where the substitute tosser binary is ("" = beside this program)
    QByteArray bbsName = "Demo Zarvel BBS";   // first field of MAIN.CFG
    bool authCheck = false;                   // keyed setting "authcheck" = 1 (sender authentication)
};

// The directories of the created installation (absolute paths).
struct TestBbsLayout {
    QString mainDir, dataDir, tempDir, messageDir, spoolDir, queueDir, net4Dir, fileAreaDir;
    QString net1Dir;         // NETDIR of network 1
    QString spoolTmpDir;     // spool + "/TMP": the inbound hand-off files
    QString closedAreaDir;   // a file area whose file-request switch is off
};

inline constexpr int kMinTestUsers = 1;
inline constexpr int kMaxTestUsers = 200000;

// Fails (error set, nothing overwritten) when `dir` already holds an
// installation or an option is out of range.
TestBbsLayout CreateTestBbs(const QString& dir, const TestBbsOptions& options, QString* error);
