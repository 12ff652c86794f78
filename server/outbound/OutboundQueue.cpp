#include "server/outbound/OutboundQueue.h"
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include "server/intake/InboundHeaders.h"
#include "server/outbound/OutboundText.h"
#include "server/outbound/RetryRules.h"
#include "server/outbound/ReturnMessage.h"
#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Headers.h"
#include "server/store/Version.h"

namespace {

// Ordinary files only: a link could point outside the BBS directories.
QStringList QueueFileNames(const QString& dir) {
    QStringList names;
    if (dir.isEmpty())   // never the working directory
        return names;
    for (const QString& name : ListFiles(dir, QStringLiteral("*.D"))) {
        const QFileInfo info(PathJoin(dir, name));
        if (info.isFile() && !info.isSymLink()) names.append(name);
    }
    // Ascending by name as text, so V10.D comes before V2.D.
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

Text WithoutLeadingSpaces(const Text& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    return text.mid(i);
}

// The start of a queue file up to the end of its header block, or "" when
// the header does not end within the first kHeaderPeek bytes.
Text HeaderPrefix(const QString& path) {
    constexpr qint64 kHeaderPeek = 64 * 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const Text start = WithoutLeadingSpaces(file.read(kHeaderPeek));
    const qsizetype end = start.indexOf("\r\n\r\n");
    return end < 0 ? Text() : start.left(end + 2);
}

void LogFault(const Text& description) { LogError("LoadOutboundMessage", kVersion, "modOSPRINE", description); }

}   // namespace

OutboundQueue::OutboundQueue(const ServerContext& ctx)
    : ctx_(ctx), clock_([] { return QDateTime::currentDateTime(); }) {}

bool OutboundQueue::HasQueuedFiles() const {
    const QString dir = ctx_.Bbs().QueueDir();
    return !dir.isEmpty() && !QueueFileNames(dir).isEmpty();
}

void OutboundQueue::Refresh() {
    names_ = QueueFileNames(ctx_.Bbs().QueueDir());
    position_ = names_.isEmpty() ? -1 : 0;
}

Text OutboundQueue::CurrentFileName() const {
    if (position_ < 0 || position_ >= Count()) return {};
    return TextFromPath(names_[position_]);
}

QString OutboundQueue::CurrentPath() const { return PathJoin(ctx_.Bbs().QueueDir(), names_[position_]); }

void OutboundQueue::Clear() { loaded_ = {}; }

bool OutboundQueue::DeleteCurrent() {
    if (position_ < 0 || position_ >= Count()) return false;
    if (RemoveFile(CurrentPath())) return true;
    LogError("sckConnect_DataArrival", kVersion, "frmMain", "Cannot delete " + CurrentFileName());
    return false;
}

// Only a note for the sysop: not worth a wait for the disk, and a file that
// cannot be rewritten keeps its message all the same.
void OutboundQueue::RecordLastStatus(const Text& status) {
    if (loaded_.IsEmpty() || position_ < 0 || position_ >= Count() || !FileExists(CurrentPath())) return;
    const Text oneLine = Trim(Text(status).replace('\r', ' ').replace('\n', ' '));
    if (!WriteFileAtomicUnsynced(CurrentPath(), ChangeHeaderField(kLastStatusHeader, oneLine, loaded_.text, true)))
        LogFault("Cannot rewrite " + CurrentFileName());
}

void OutboundQueue::LoadOutboundMessage(int position) {
    for (;;) {
        loaded_ = {};
        if (position < 0 || position >= Count()) return;
        position_ = position;
        if (TryLoad(names_[position]) != Outcome::Skipped) return;
        ++position;
    }
}

OutboundQueue::Outcome OutboundQueue::TryLoad(const QString& name) {
    const QString path = CurrentPath();
    if (!FileExists(path)) return Outcome::Stop;
    // A file that is not due is judged by its header alone: a long queue
    // costs the scan its headers, not its bodies.
    if (const Text head = HeaderPrefix(path); !head.isEmpty()) {
        const Text stamp = Trim(GetHeaderField(kProcessedHeader, head));
        if (JudgeQueueFile(stamp, ValLong(GetHeaderField(kAttemptsHeader, head)), clock_()) == QueueVerdict::NotDue)
            return Outcome::Skipped;
    }
    bool readOk = false;
    const Text raw = ReadFileBytes(path, &readOk);
    if (!readOk) {
        // Judging or rewriting a file that could not be read would destroy it.
        LogFault("Cannot read " + TextFromPath(name));
        return Outcome::Skipped;
    }
    const QueueText parts = SplitAttachment(WithoutLeadingSpaces(raw));
    const Text stamp = Trim(GetHeaderField(kProcessedHeader, parts.message));
    const int32_t attempts = ValLong(GetHeaderField(kAttemptsHeader, parts.message));

    switch (JudgeQueueFile(stamp, attempts, clock_())) {
    case QueueVerdict::Expired:
        // A message that could not be returned must not hold up the rest.
        return ReturnMessage(ctx_, TextFromPath(name)) ? Outcome::Stop : Outcome::Skipped;
    case QueueVerdict::NotDue:
        return Outcome::Skipped;
    case QueueVerdict::Due:
        break;
    }
    return Prepare(name, parts.message, parts.attachment, stamp.isEmpty(), attempts) ? Outcome::Loaded
                                                                                     : Outcome::Skipped;
}

bool OutboundQueue::Prepare(const QString& name, const Text& message, const Text& attachment, bool firstTime,
                            int32_t attempts) {
    const Text fileName = TextFromPath(name);
    ctx_.Log().ReportServer("Processing message file: " + fileName);

    const QDateTime now = clock_();
    Text text = FixOutboundHeaders(MessageTo7Bit(message), now);
    if (firstTime) {
        text = ReceivedHeader(ctx_, GetHeaderField("To", text), "127.0.0.1", now) + text;
        const QDateTime queued = QFileInfo(CurrentPath()).lastModified();
        text = ChangeHeaderField(kQueuedHeader, GeneralDateText(queued.isValid() ? queued : now), text, true);
    }
    text = ChangeHeaderField(kProcessedHeader, GeneralDateText(now), text, true);
    const int32_t next = attempts < INT32_MAX ? attempts + 1 : INT32_MAX;
    text = ChangeHeaderField(kAttemptsHeader, NumText(next), text, true);
    text = StripTrailingCrLf(text);

    // Without its new stamp the message could neither be paced nor expire;
    // a queue that cannot be written is left alone until it can.
    if (!WriteFileAtomic(CurrentPath(), text + attachment, kSharedFile)) {
        LogFault("Cannot rewrite " + fileName);
        return false;
    }
    loaded_.text = text + attachment;
    loaded_.sender = EnvelopeAddress(GetHeaderField("From", text));
    loaded_.recipient = EnvelopeAddress(GetHeaderField("To", text));
    return true;
}
