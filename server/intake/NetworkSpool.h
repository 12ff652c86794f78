#pragma once
// The server's side of the BBS network spool: messages the server writes
// itself (file-request answers, return notices), the start of the BBS's
// tosser for the inbound hand-off files, and the 7-bit line filter.
#include "server/bbs/ServerContext.h"
#include <QDateTime>
#include <QString>

// Composes a message from "OSPRINE@" + the Internet system id, optionally
// with one file attached in Base64, and queues it in the outbound queue, or
// files it for the BBS user when it is addressed to this BBS. A return notice
// carries "X-OSPRINE-Status: RETURNED".
// Returns false only when a local fault kept the message from being stored
// (queue full, a write failed); a message that the rules drop (empty
// recipient, subject or body, no such local user) counts as done.
// `replacing` names a queue file the message takes the place of: in the
// queue it replaces that file in one atomic step (a return notice when no
// number is free), else the file is removed once the message is stored.
bool WriteInetMessage(const ServerContext& ctx, const Text& to, const Text& subject, const Text& body,
                      const QString& attachmentPath, bool returnNotice = false,
                      const QString& replacing = QString());

// Starts the BBS's tosser (detached, through "OSPRTOSS.BAT") when hand-off
// files wait in the spool's "TMP" and no "BT*.FLG" says a tosser is running.
// Called at start-up and on every supervision tick.
void TossMessages(const ServerContext& ctx);

// The flag file that has held tossing back for more than 30 minutes while
// no tosser started by this server runs, or "".
QString TossingHeldBy();

// Clears the top bit of every byte (233 becomes 105). Used line by line.
Text ConvertTo7Bit(const Text& text);

// The tosser script: a POSIX shell script that changes to the main directory
// (quoted for the shell), runs "./ZUUCP.EXE 0 /R" and deletes itself.
Text TosserScript(const QString& mainDir, const QDateTime& now);
