#pragma once
// One recipient's copy of a received message: the To header rewritten for
// aliases, handles and user numbers, and the texts handed on.
#include "server/bbs/ServerContext.h"
#include "server/intake/MessageText.h"
#include "server/store/HeaderView.h"

struct RecipientCopy {
    int32_t userNumber = 0;   // 0 unless an alias, handle or user number named the user
    HeaderView header;        // the header of this copy
    Text event;               // the rewrite to report, or ""
};

// `recipient` is the trimmed, lower-cased address; `local` its local part
// with spaces as dots. Every copy's To line names its envelope recipient
// (or the user an alias or number stands for).
RecipientCopy RewriteRecipient(const ServerContext& ctx, const Text& recipient, const Text& local,
                               const HeaderView& header);

// The hand-off file's content: Return-Path, the trace lines, the message
// without its trailing line ends, CR LF, the attachment tail likewise, CR LF,
// and one more CR LF.
TextList HandOffPieces(const ServerContext& ctx, const Text& returnPath, const Text& sendingHost,
                       const HeaderView& header, const MessageText& message);

// The text handed to WriteMessage for a forwarded copy: the message without
// its trailing line ends, CR LF, the attachment tail likewise, CR LF.
Text ForwardText(const Text& head, const MessageText& message);
