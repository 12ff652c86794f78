#include "osprinectl/StatusCommand.h"
#include <QDir>
#include "osprinectl/Output.h"
#include "osprinectl/ServerControl.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"
#include "server/store/KeyedSettings.h"

const char* const kStatusHelp =
    "Usage: osprinectl [-d DIR] status\n"
    "Prints whether the server runs (with its process id), the address and port it listens\n"
    "on, whether it offers STARTTLS, the size of the outbound queue and the last line of\n"
    "ZRVERROR.LOG. A stopped server's port and TLS files are those of its settings.\n"
    "Exit status 0 when the server runs, 1 when it does not.\n";

namespace {

Text QueueLine(const Installation& inst) {
    if (!inst.netLoaded || inst.bbs.QueueDir().isEmpty()) return "Queue: unknown (NET.9 names no queue directory)";
    QDir dir(inst.bbs.QueueDir());
    dir.setNameFilters({"*.D", "*.d"});
    dir.setFilter(QDir::Files);
    qint64 bytes = 0;
    const QFileInfoList files = dir.entryInfoList();
    for (const QFileInfo& f : files) bytes += f.size();
    return "Queue: " + NumText(files.size()) + (files.size() == 1 ? " message, " : " messages, ") +
           NumText(bytes / 1024) + " KB";
}

Text LastErrorLine(const Installation& inst) {
    bool ok = false;
    const Text log = ReadFileBytes(PathJoin(inst.MainDir(), "ZRVERROR.LOG"), &ok);
    const TextList lines = ok ? SplitLines(log) : TextList();
    for (qsizetype i = lines.size() - 1; i >= 0; --i)
        if (!Trim(lines[i]).isEmpty()) return "Last error: " + Trim(lines[i]);
    return "Last error: none";
}

}   // namespace

int RunStatus(const Installation& inst) {
    const ServerAnswer answer = QueryServer(inst, "status");
    const bool running = answer.reached && answer.last.startsWith("OK");
    if (running) {
        for (const Text& line : answer.lines) ctl::Out(line);
    } else {
        ctl::Out("Server: not running (" + (answer.reached ? answer.last : answer.why) + ")");
        ctl::Out("Port: " + NumText(inst.LoadSettings().Port));
        const Text cert = Trim(GetData(kServerTlsCertKey, inst.KeyedList()));
        ctl::Out("STARTTLS: " + (cert.isEmpty() ? Text("not configured") : "configured with " + cert));
    }
    ctl::Out(QueueLine(inst));
    ctl::Out(LastErrorLine(inst));
    return running ? ctl::kOk : ctl::kNoServer;
}
