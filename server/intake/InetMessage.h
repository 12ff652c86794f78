#pragma once
// Messages the server writes itself (file-request answers, return notices):
// composed from "OSPRINE@" + the Internet system id, optionally with one file
// attached in Base64, and queued or filed for a BBS user.
#include <QString>
#include <vector>
#include "server/bbs/ServerContext.h"
#include "server/store/DiskQueue.h"

// Composes the message and queues it in the outbound queue, or files it for
// the BBS user when it is addressed to this BBS. A return notice carries
// "X-OSPRINE-Status: RETURNED".
// Returns false only when a local fault kept the message from being stored
// (queue full, a write failed); a message that the rules drop (empty
// recipient, subject or body, no such local user) counts as done.
struct InetMessageOptions {
    QString attachmentPath = {};   // a file sent along in Base64 (left out when it cannot be read)
    bool returnNotice = false;     // carries "X-OSPRINE-Status: RETURNED"
    // A queue file the message takes the place of: in the queue it replaces
    // that file in one atomic step (a return notice when no number is free),
    // else the file is removed once the message is stored. Such work is
    // always done now.
    QString replacing = {};
    DiskSink sink = DiskSink::Now();   // where the file work goes otherwise
};
bool WriteInetMessage(const ServerContext& ctx, const Text& to, const Text& subject, const Text& body,
                      const InetMessageOptions& options = {});
