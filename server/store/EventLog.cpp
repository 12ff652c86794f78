#include "server/store/EventLog.h"

#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

#include <QFile>

namespace {
TextList Lines(const Text& text) { return Explode(CRLF, ConvertCrLf(text)); }
}  // namespace

QString EventLog::LogPath() const { return PathJoin(mainDir_, "OSPRINE.LOG"); }

Text EventLog::FileHeader() {
    const Text rule(79, '-');
    return Text("OSPRINE Event Log\r\n") + rule + CRLF + "Date           Time     Socket  Description\r\n" + rule + CRLF;
}

Text EventLog::FileLine(const Text& stamp, int16_t slot, const Text& line) {
    return stamp + " " + StrPad(Text::number(slot), 6, " ", PadMode::Left) + "  " + line + CRLF;
}

void EventLog::ShowEvent(const Text& text) {
    if (!sink_) return;
    for (const Text& line : Lines(text)) sink_(line);
}

void EventLog::OsprineLog(int16_t slot, const Text& text) {
    const QString path = LogPath();
    const qint64 length = FileLength(path);
    if (maxLogSize_ > 0 && length > maxLogSize_) {
        const QString old = PathJoin(mainDir_, "OSPRINE.OLD");
        if (!RemoveFile(old) || !QFile::copy(path, old) || !QFile::remove(path)) {
            LogError("OsprineLog", kVersion, "modOSPRINE", "Cannot rotate the event log to OSPRINE.OLD");
        }
    }
    Text out;
    if (!QFile::exists(path)) out = FileHeader();
    const Text stamp = LogStamp();
    for (const Text& line : Lines(text)) out += FileLine(stamp, slot, line);
    if (!AppendFile(path, out)) LogError("OsprineLog", kVersion, "modOSPRINE", "Cannot write OSPRINE.LOG");
}

void EventLog::Report(int16_t slot, const Text& text) {
    ShowEvent(TimeText() + " : [" + Text::number(slot) + "] " + text);
    OsprineLog(slot, text);
}

void EventLog::ReportServer(const Text& text) {
    ShowEvent(TimeText() + " : " + text);
    OsprineLog(0, text);
}
