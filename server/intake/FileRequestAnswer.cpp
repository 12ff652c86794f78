#include "server/intake/FileRequestAnswer.h"

#include "server/bbs/FileRequest.h"
#include "server/intake/InetMessage.h"
#include "server/store/Files.h"
#include "server/store/Headers.h"
#include "server/store/KeyedList.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <algorithm>

Text FreqInformation(const ServerContext& ctx, const Text& name, qint64 size) {
    return "BBS Name......: " + Trim(ctx.Bbs().main.BbsName) + CRLF + "File Requested: " + name + CRLF +
           "Filesize......: " + Text::number(size < 0 ? 0 : size) + CRLF +
           "Max Filesize..: " + Text::number(ctx.Settings().MaxFreqSize);
}

namespace {
// Bytes a terminal acts on (below 32, and DEL): an address holding one is
// never written to.
bool HoldsControlBytes(const Text& address) {
    for (const char c : address)
        if (uchar(c) < 32 || uchar(c) == 127) return true;
    return false;
}

// Setting "freqperhour" of the keyed list: answers an hour to all addresses (0: none).
int FreqPerHour(const ServerContext& ctx) {
    const Text value = Trim(GetData("freqperhour", ctx.KeyedList()));
    return value.isEmpty() ? AnswerLimit::kInAllPerHour : int(std::clamp<int32_t>(ValLong(value), 0, 10000));
}
}   // namespace

bool AnswerFileRequest(const ServerContext& ctx, int16_t slot, const HeaderView& header, AnswerLimit& limit,
                       DiskSink sink) {
    const Text name = UCase(Trim(header.Value("Subject")));
    const Text to = LCase(GetPath(header.Value("Reply-To")));
    if (HoldsControlBytes(to)) {
        ctx.Log().Report(slot, "File Request: " + name + " - Refused: the reply address holds control characters");
        return true;
    }
    const int inAll = FreqPerHour(ctx);
    switch (limit.Allow(to, QDeadlineTimer::current().deadline(), inAll)) {
    case AnswerLimit::Verdict::AddressFull:
        ctx.Log().Report(slot, "File Request: " + name + " - Refused: " + Text::number(AnswerLimit::kPerHour) +
                                   " answers to " + to + " within the hour");
        return true;
    case AnswerLimit::Verdict::AllFull:
        ctx.Log().Report(slot, "File Request: " + name + " - Refused: " + Text::number(inAll) +
                                   " answers to all addresses within the hour");
        return true;
    case AnswerLimit::Verdict::Allowed:
        break;
    }
    const QString path = GetFreqFile(ctx.Bbs(), name);
    const Text subject = "File Request - " + name;
    const QFileInfo file(path);
    if (path.isEmpty() || !file.isFile()) {
        ctx.Log().Report(slot, "File Request: " + name + " - File could not be found");
        return WriteInetMessage(
            ctx, to, subject,
            "The file you requested could not be found." + Text(CRLF) + CRLF + FreqInformation(ctx, name, -1),
            {.sink = sink});
    }
    const Text shownPath = TextFromPath(path);
    if (file.size() > ctx.Settings().MaxFreqSize) {
        ctx.Log().Report(slot, "File Request: " + shownPath + " - File too large");
        return WriteInetMessage(ctx, to, subject,
                                "The file you requested is larger than the allotted limit. Please logon the BBS to "
                                "download it." +
                                    Text(CRLF) + CRLF + FreqInformation(ctx, name, file.size()),
                                {.sink = sink});
    }
    ctx.Log().Report(slot, "File Request: " + shownPath + " - Successful");
    return WriteInetMessage(
        ctx, to, subject,
        "Attached is the file you have requested." + Text(CRLF) + CRLF + FreqInformation(ctx, name, file.size()),
        {.attachmentPath = path, .sink = sink});
}
