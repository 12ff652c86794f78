#include "server/intake/InetMessage.h"

#include "server/bbs/MessageFiles.h"
#include "server/bbs/UserDirectory.h"
#include "server/inbound/Recipients.h"
#include "server/intake/EmailBaseWriter.h"
#include "server/net/Base64.h"
#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

namespace {

Text RTrimSpaces(Text s) {
    while (s.endsWith(' ')) s.chop(1);
    return s;
}

Text Boundary(const QDateTime& now, const Text& systemId) {
    return YyMmDd(now.date()) + "." + Text::number(now.time().msecsSinceStartOfDay() / 1000) + "/" + systemId;
}

struct Attachment {
    Text fileName;
    Text base64;
};

Text ComposeInetMessage(const ServerContext& ctx, const QDateTime& now, int n, const Text& to, const Text& subject,
                        const Text& body, const Attachment* attachment, bool returnNotice) {
    const Text systemId = GetSystemId(ctx.Bbs());
    const Text boundary = Boundary(now, systemId);
    Text m;
    m += "Message-ID: <V" + Text::number(n) + "@" + systemId + ">" + CRLF;
    m += "From: OSPRINE@" + systemId + CRLF;
    m += "To: " + to + CRLF;
    m += "Subject: " + subject + CRLF;
    m += "Date: " + HeaderDate(now) + CRLF;
    m += Text("X-Mailer: OSPRINE v") + kVersion + CRLF;
    if (returnNotice) m += Text("X-OSPRINE-Status: RETURNED") + CRLF;
    m += "Organization: " + Trim(ctx.Bbs().main.BbsName) + CRLF;
    m += Text("MIME-Version: 1.0") + CRLF;
    if (attachment)
        m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"" + CRLF;
    else
        m += Text("Content-Type: text/plain; charset=us-ascii") + CRLF;
    m += Text("Content-Transfer-Encoding: 7bit") + CRLF;
    m += CRLF;
    if (attachment) {
        m += Text("This is a MIME-encapsulated message.") + CRLF + CRLF;
        m += "--" + boundary + CRLF;
        m += Text("Content-Type: text/plain; charset=us-ascii") + CRLF + CRLF;
    }
    m += body + CRLF;
    if (attachment) {
        m += CRLF;
        m += "--" + boundary + CRLF;
        m += "Content-Type: application/octect-stream; name=\"" + attachment->fileName + "\"" + CRLF;
        m += Text("Content-Transfer-Encoding: base64") + CRLF + CRLF;
        m += attachment->base64 + CRLF;
        m += "--" + boundary + "--" + CRLF;
    }
    return m;
}

}   // namespace

bool WriteInetMessage(const ServerContext& ctx, const Text& recipient, const Text& subjectText, const Text& bodyText,
                      const InetMessageOptions& options) {
    const Text to = LCase(Trim(recipient));
    const Text subject = Trim(subjectText);
    const Text body = RTrimSpaces(bodyText);
    const QString path = options.attachmentPath.trimmed();
    const QString& replacing = options.replacing;
    if (to.isEmpty() || subject.isEmpty() || body.isEmpty()) return true;

    const QDateTime now = QDateTime::currentDateTime();
    const Text systemId = GetSystemId(ctx.Bbs());
    Attachment attachment;
    bool attach = false;
    if (!path.isEmpty() && FileExists(path)) {
        bool ok = false;
        const QByteArray bytes = ReadFileBytes(path, &ok);
        attach = ok;
        attachment = {GetFileBasename(TextFromPath(path)), clsBase64::EncodeArr(bytes)};
    }
    const QString queueDir = ctx.Bbs().QueueDir();
    const int n = GetNextMessageNumber(queueDir);
    const Text message =
        ComposeInetMessage(ctx, now, n, to, subject, body, attach ? &attachment : nullptr, options.returnNotice);

    if (GetAddressDomain(to) != systemId) {
        const auto Report = [queueDir] {
            LogError("WriteInetMessage", kVersion, "modOSPRINE",
                     "No queue file could be written in " + TextFromPath(queueDir));
        };
        if (replacing.isEmpty())
            return options.sink.Take(
                ReportingFailure(NewMessageFileJob(queueDir, TextList{message}, std::make_shared<int>(0)), Report));
        if (ReplaceMessageFile(replacing, message)) return true;
        Report();
        return false;
    }
    const int32_t u = FindUser(ctx, to);
    if (u <= 0) return true;
    Text forward = CheckForwarding(ctx, u);
    if (forward.isEmpty()) forward = Trim(GetUser(ctx.Bbs(), u).Handle());
    if (!WriteMessage(ctx, u, forward, message, 0, replacing.isEmpty() ? options.sink : DiskSink::Now())) return false;
    if (!replacing.isEmpty() && !RemoveFile(replacing))
        LogError("WriteInetMessage", kVersion, "modOSPRINE", "Cannot delete " + TextFromPath(replacing));
    return true;
}
