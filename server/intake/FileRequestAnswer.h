#pragma once
// Answers a file request by mail: the Subject names the file, the reply goes
// to the Reply-To address with the file attached or a note why not.
#include <vector>
#include "server/bbs/ServerContext.h"
#include "server/intake/AnswerLimit.h"
#include "server/store/DiskQueue.h"
#include "server/store/HeaderView.h"

// The four lines of the reply's information block, without a final line end.
// `size` < 0 stands for a file that was not found.
Text FreqInformation(const ServerContext& ctx, const Text& name, qint64 size);

// Answers the request whose header is `header`, unless `limit` says its
// requester has had enough answers this hour (then nothing is queued and
// the refusal is logged). Returns false only when a local fault kept the
// reply from being stored. The reply's file work goes to `sink`.
bool AnswerFileRequest(const ServerContext& ctx, int16_t slot, const HeaderView& header, AnswerLimit& limit,
                       DiskSink sink = DiskSink::Now());
