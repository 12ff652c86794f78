#include "server/outbound/ReturnMessage.h"
#include "server/intake/NetworkSpool.h"
#include "server/outbound/OutboundText.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Headers.h"
#include "server/store/Version.h"

Text GetMessageData(const Text& text)
{
    const qsizetype blank = text.indexOf("\r\n\r\n");
    return blank < 0 ? Text() : text.mid(blank + 4);
}

Text ReturnNoticeText(const Text& returnedMessage)
{
    return Text("The following message was undeliverable.\r\n\r\n--- Original Message ---\r\n") +
           GetMessageData(returnedMessage) + CRLF;
}

void ReturnMessage(const ServerContext& ctx, const Text& fileName)
{
    const Text name = Trim(fileName);
    const QString path = PathJoin(ctx.bbs.QueueDir(), PathFromText(name));
    if (name.isEmpty() || !FileExists(path))
        return;
    bool readOk = false;
    const Text text = ReadFileBytes(path, &readOk);
    if (!readOk) {
        LogError("ReturnMessage", kVersion, "modOSPRINE", "Cannot read " + name);
        return;
    }
    if (!IsReturnedMessage(text)) {
        const Text sender = GetPath(GetHeaderField("From", text));
        if (!WriteInetMessage(ctx, sender, "Undeliverable Message", ReturnNoticeText(text), QString(), true)) {
            LogError("ReturnMessage", kVersion, "modOSPRINE", "Cannot queue the return notice for " + name);
            return;
        }
    }
    if (!RemoveFile(path))
        LogError("ReturnMessage", kVersion, "modOSPRINE", "Cannot delete " + name);
}
