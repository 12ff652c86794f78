#pragma once
// Returning undeliverable messages to their senders.
#include "server/bbs/ServerContext.h"

// The body of a message: everything after its first empty line, "" without one.
Text GetMessageData(const Text& text);

// The text of the notice that quotes a returned message's body.
Text ReturnNoticeText(const Text& returnedMessage);

// Takes the queue file `fileName` out of the outbound queue and queues a
// notice "Undeliverable Message" for its sender, marked as a return. A
// message that is itself a return disappears without a notice. The notice is
// written before the file is deleted, so a failure between the two steps
// never loses both; when the notice cannot be written the file stays queued
// (in a full queue the notice takes the returned message's own number).
// True when the message has left the queue; false when there was no such
// file or it could not be taken out.
bool ReturnMessage(const ServerContext& ctx, const Text& fileName);
