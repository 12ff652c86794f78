#pragma once
// The substitute for the BBS's tosser: imports every inbound hand-off file
// ("V*.D", any case) of the Internet spool's "TMP" directory into the BBS
// e-mail base, for the user the message's To address names (user 1 when it
// names nobody known), and deletes each file once it is filed. It goes on
// until the directory is empty, so files that arrive meanwhile are taken too.
#include <QString>
#include <QStringList>

struct TossReport {
    int imported = 0;
    QStringList left;    // files that could not be read or removed
    QString error;       // why the run stopped early; "" when it finished
    bool busy = false;   // another tosser holds the flag
};

// Runs in the BBS main directory `mainDir` as node `node` (flag "BT" + node + ".FLG").
TossReport RunTosser(const QString& mainDir, int node);
