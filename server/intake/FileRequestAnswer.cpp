#include "server/intake/FileRequestAnswer.h"

#include "server/bbs/FileRequest.h"
#include "server/intake/InetMessage.h"
#include "server/store/Files.h"
#include "server/store/Headers.h"

#include <QDeadlineTimer>
#include <QFileInfo>

Text FreqInformation(const ServerContext& ctx, const Text& name, qint64 size) {
    return "BBS Name......: " + Trim(ctx.Bbs().main.BbsName) + CRLF + "File Requested: " + name + CRLF +
           "Filesize......: " + Text::number(size < 0 ? 0 : size) + CRLF +
           "Max Filesize..: " + Text::number(ctx.Settings().MaxFreqSize);
}

bool AnswerFileRequest(const ServerContext& ctx, int16_t slot, const Text& head, AnswerLimit& limit,
                       std::vector<DiskJob>* later) {
    const Text name = UCase(Trim(GetHeaderField("Subject", head)));
    const Text to = LCase(GetPath(GetHeaderField("Reply-To", head)));
    if (!to.isEmpty() && !limit.Allow(to, QDeadlineTimer::current().deadline())) {
        ctx.Log().Report(slot, "File Request: " + name + " - Refused: " + Text::number(AnswerLimit::kPerHour) +
                                   " answers to " + to + " within the hour");
        return true;
    }
    const QString path = GetFreqFile(ctx.Bbs(), name);
    const Text subject = "File Request - " + name;
    const QFileInfo file(path);
    if (path.isEmpty() || !file.isFile()) {
        ctx.Log().Report(slot, "File Request: " + name + " - File could not be found");
        return WriteInetMessage(
            ctx, to, subject,
            "The file you requested could not be found." + Text(CRLF) + CRLF + FreqInformation(ctx, name, -1), {},
            false, {}, later);
    }
    const Text shownPath = TextFromPath(path);
    if (file.size() > ctx.Settings().MaxFreqSize) {
        ctx.Log().Report(slot, "File Request: " + shownPath + " - File too large");
        return WriteInetMessage(ctx, to, subject,
                                "The file you requested is larger than the allotted limit. Please logon the BBS to "
                                "download it." +
                                    Text(CRLF) + CRLF + FreqInformation(ctx, name, file.size()),
                                {}, false, {}, later);
    }
    ctx.Log().Report(slot, "File Request: " + shownPath + " - Successful");
    return WriteInetMessage(
        ctx, to, subject,
        "Attached is the file you have requested." + Text(CRLF) + CRLF + FreqInformation(ctx, name, file.size()), path,
        false, {}, later);
}
