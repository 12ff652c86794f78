#include "server/store/EventLog.h"

#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>

namespace {
TextList Lines(const Text& text) {
    // Nearly every event is one line: no need to normalise and split it.
    if (!text.contains('\r') && !text.contains('\n')) return {text};
    return Explode(CRLF, ConvertCrLf(text));
}
}   // namespace

void EventLog::SetMainDir(const QString& dir) {
    mainDir_ = dir;
    logFile_ = QFile::encodeName(LogPath());
}

QString EventLog::LogPath() const { return PathJoin(mainDir_, "OSPRINE.LOG"); }

Text EventLog::FileHeader() {
    const Text rule(79, '-');
    return Text("OSPRINE Event Log\r\n") + rule + CRLF + "Date           Time     Socket  Description\r\n" + rule +
           CRLF;
}

Text EventLog::FileLine(const Text& stamp, int16_t slot, const Text& line) {
    return stamp + " " + StrPad(Text::number(slot), 6, " ", PadMode::Left) + "  " + line + CRLF;
}

void EventLog::ShowEvent(const Text& text) {
    if (!sink_) return;
    for (const Text& line : Lines(text)) sink_(line);
}

void EventLog::ShowTimedEvent(const Text& text) { ShowEvent(TimeText() + " : " + text); }

void EventLog::OsprineLog(int16_t slot, const Text& text) {
    const QByteArray& file = logFile_;
    // One open, one status and one write per call: this runs for every
    // command and reply of every session.
    int fd = ::open(file.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kPrivateFile);
    struct stat status {};
    if (fd >= 0 && ::fstat(fd, &status) == 0 && maxLogSize_ > 0 && status.st_size > maxLogSize_) {
        ::close(fd);
        const QString old = PathJoin(mainDir_, "OSPRINE.OLD");
        // A rename keeps the log's mode and never writes through a link at OSPRINE.OLD.
        if (::rename(file.constData(), QFile::encodeName(old).constData()) != 0)
            LogError("OsprineLog", kVersion, "modOSPRINE", "Cannot rotate the event log to OSPRINE.OLD");
        fd = ::open(file.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kPrivateFile);
        status.st_size = fd >= 0 && ::fstat(fd, &status) == 0 ? status.st_size : 0;
    }
    if (fd < 0) {
        LogError("OsprineLog", kVersion, "modOSPRINE", "Cannot open OSPRINE.LOG");
        return;
    }
    Text out;
    if (status.st_size == 0) out = FileHeader();
    const Text stamp = LogStamp();
    for (const Text& line : Lines(text)) out += FileLine(stamp, slot, line);
    const bool written = ::write(fd, out.constData(), size_t(out.size())) == out.size();
    if (::close(fd) != 0 || !written) LogError("OsprineLog", kVersion, "modOSPRINE", "Cannot write OSPRINE.LOG");
}

void EventLog::Report(int16_t slot, const Text& text) {
    ShowTimedEvent("[" + Text::number(slot) + "] " + text);
    OsprineLog(slot, text);
}

void EventLog::ReportServer(const Text& text) {
    ShowTimedEvent(text);
    OsprineLog(0, text);
}
