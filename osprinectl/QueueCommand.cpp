#include "osprinectl/QueueCommand.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include "osprinectl/Output.h"
#include "osprinectl/ServerControl.h"
#include "server/outbound/OutboundText.h"
#include "server/store/Dates.h"
#include "server/store/Headers.h"

const char* const kQueueHelp =
    "Usage: osprinectl [-d DIR] queue\n"
    "       osprinectl [-d DIR] queue delete FILE\n"
    "       osprinectl [-d DIR] queue flush\n"
    "Without more, lists the outbound queue: file, size, age since it was queued, attempts,\n"
    "status, sender and recipient of each message, and under it the upstream's last reply\n"
    "or the reason it is still queued. \"delete\" removes one message from the queue;\n"
    "\"flush\" asks the running server to deliver the queue now.\n";

namespace {

// The header block is all a listing needs; a huge message is not read whole.
Text HeaderBlock(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return Text();
    const Text head = f.read(64 * 1024);
    const qsizetype end = head.indexOf("\r\n\r\n");
    return end < 0 ? head : head.left(end + 2);
}

Text Age(const QDateTime& since) {
    const qint64 minutes = std::max<qint64>(0, since.secsTo(QDateTime::currentDateTime()) / 60);
    if (minutes < 60) return NumText(minutes) + "m";
    if (minutes < 48 * 60) return NumText(minutes / 60) + "h" + NumText(minutes % 60).rightJustified(2, '0') + "m";
    return NumText(minutes / (24 * 60)) + "d";
}

// The server notes when a message entered the queue at its first attempt
// (each attempt rewrites the file); a message never tried is as old as its file.
QDateTime QueuedAt(const Text& head, const QFileInfo& file) {
    const QDateTime queued = ParseGeneralDate(Trim(GetHeaderField(kQueuedHeader, head)));
    return queued.isValid() ? queued : file.lastModified();
}

QFileInfoList QueuedFiles(const QString& dir) {
    QDir d(dir);
    d.setNameFilters({"*.D", "*.d"});
    d.setFilter(QDir::Files);
    d.setSorting(QDir::Time | QDir::Reversed);
    return d.entryInfoList();
}

int List(const QString& dir) {
    const QFileInfoList files = QueuedFiles(dir);
    if (files.isEmpty()) {
        ctl::Out("Mail queue is empty");
        return ctl::kOk;
    }
    ctl::Out("File         Size   Age     Tries  Status      Sender -> Recipient");
    qint64 bytes = 0;
    for (const QFileInfo& file : files) {
        const Text head = HeaderBlock(file.filePath());
        const Text tries = Trim(GetHeaderField("X-OSPRINE-Attempts", head));
        const Text lastStatus = Trim(GetHeaderField(kLastStatusHeader, head));
        Text status = Trim(GetHeaderField(kStatusHeader, head));
        if (status.isEmpty() && !lastStatus.isEmpty()) status = "DEFERRED";
        ctl::Out(file.fileName().toLocal8Bit().leftJustified(10) + " " + NumText(file.size()).rightJustified(7) +
                 "   " + Age(QueuedAt(head, file)).leftJustified(7) + " " +
                 (tries.isEmpty() ? Text("0") : tries).rightJustified(5) + "  " +
                 (status.isEmpty() ? Text("-") : status).leftJustified(11) + " " +
                 EnvelopeAddress(GetHeaderField("From", head)) + " -> " + EnvelopeAddress(GetHeaderField("To", head)));
        if (!lastStatus.isEmpty()) ctl::Out("             Last: " + lastStatus);
        bytes += file.size();
    }
    ctl::Out("-- " + NumText(bytes / 1024) + " KB in " + NumText(files.size()) +
             (files.size() == 1 ? " message" : " messages"));
    return ctl::kOk;
}

int Delete(const QString& dir, const QString& name) {
    // Only a queue file, by its plain name: nothing outside the queue directory.
    for (const QFileInfo& file : QueuedFiles(dir)) {
        if (file.fileName().compare(name, Qt::CaseInsensitive) != 0) continue;
        if (!QFile::remove(file.filePath()))
            return ctl::Fail(ctl::kUsage, "cannot remove " + file.filePath().toLocal8Bit());
        ctl::Out("Removed " + file.fileName().toLocal8Bit());
        return ctl::kOk;
    }
    return ctl::Fail(ctl::kUsage, name.toLocal8Bit() + ": no such message in the queue");
}

}   // namespace

int RunQueue(const Installation& inst, const QStringList& arguments) {
    if (!inst.netLoaded || inst.bbs.QueueDir().isEmpty())
        return ctl::Fail(ctl::kUsage, "NET.9 names no outbound queue directory (REMOTE)");
    const QString dir = inst.bbs.QueueDir();
    if (arguments.isEmpty()) return List(dir);
    if (arguments.size() == 2 && arguments[0] == "delete") return Delete(dir, arguments[1]);
    if (arguments.size() == 1 && arguments[0] == "flush") return AskServer(inst, "flush");
    return ctl::Fail(ctl::kUsage, "usage: osprinectl queue [delete FILE | flush]");
}
