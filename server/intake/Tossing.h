#pragma once
// The start of the BBS's tosser for the inbound hand-off files.
#include <QDateTime>
#include <QString>
#include "server/bbs/ServerContext.h"

// Starts the BBS's tosser (detached, through "OSPRTOSS.BAT") when hand-off
// files wait in the spool's "TMP" and no "BT*.FLG" says a tosser is running.
// Called at start-up and on every supervision tick.
void TossMessages(const ServerContext& ctx);

// The flag file that has held tossing back for more than 30 minutes while
// no tosser started by this server runs, or "".
QString TossingHeldBy();

// The tosser script: a POSIX shell script that changes to the main directory
// (quoted for the shell), runs "./ZUUCP.EXE 0 /R" and deletes itself.
Text TosserScript(const QString& mainDir, const QDateTime& now);
