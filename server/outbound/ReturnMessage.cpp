#include "server/outbound/ReturnMessage.h"
#include "server/bbs/MessageFiles.h"
#include "server/intake/InetMessage.h"
#include "server/outbound/OutboundText.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Headers.h"
#include "server/store/Version.h"

namespace {

void LogFault(const Text& description) { LogError("ReturnMessage", kVersion, "modOSPRINE", description); }

bool QueueNotice(const ServerContext& ctx, const Text& returned, const QString& replacing = QString()) {
    const Text sender = GetPath(GetHeaderField("From", returned));
    return WriteInetMessage(ctx, sender, "Undeliverable Message", ReturnNoticeText(returned),
                            {.returnNotice = true, .replacing = replacing});
}

}   // namespace

Text GetMessageData(const Text& text) {
    const qsizetype blank = text.indexOf("\r\n\r\n");
    return blank < 0 ? Text() : text.mid(blank + 4);
}

Text ReturnNoticeText(const Text& returnedMessage) {
    return Text("The following message was undeliverable.\r\n\r\n--- Original Message ---\r\n") +
           GetMessageData(returnedMessage) + CRLF;
}

bool ReturnMessage(const ServerContext& ctx, const Text& fileName) {
    const Text name = Trim(fileName);
    const QString dir = ctx.Bbs().QueueDir();
    if (name.isEmpty() || dir.isEmpty()) return false;
    const QString path = PathJoin(dir, PathFromText(name));
    if (!FileExists(path)) return false;
    bool readOk = false;
    const Text text = ReadFileBytes(path, &readOk);
    if (!readOk) {
        LogFault("Cannot read " + name);
        return false;
    }
    if (IsReturnedMessage(text) || QueueNotice(ctx, text)) {
        if (RemoveFile(path)) return true;
        LogFault("Cannot delete " + name);
        return false;
    }
    // A full queue has no number for the notice: it takes the returned
    // message's own file in one atomic step, so that one of the two is
    // always on the disk, whatever happens.
    if (QueueNotice(ctx, text, path)) return true;
    LogFault("Cannot queue the return notice for " + name);
    return false;
}
