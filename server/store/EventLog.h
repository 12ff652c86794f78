#pragma once
// The event window and the event log file "OSPRINE.LOG".
#include <QString>
#include <functional>
#include "server/store/Text.h"

class EventLog {
public:
    // The window face receives each ShowEvent line (without its CR LF).
    using Sink = std::function<void(const Text& line)>;
    // The face shows a message box (console: "title: text" on standard error).
    using BoxSink = std::function<void(const Text& title, const Text& text)>;

    EventLog(QString mainDir, const int32_t& maxLogSize) : maxLogSize_(maxLogSize) { SetMainDir(mainDir); }
    void SetMainDir(const QString& dir);
    void SetSink(Sink sink) { sink_ = std::move(sink); }
    void SetBoxSink(BoxSink sink) { boxSink_ = std::move(sink); }
    void MessageBox(const Text& title, const Text& text) const {
        if (boxSink_) boxSink_(title, text);
    }

    void ShowEvent(const Text& text);
    // The window line of an event: "hh:nn:ss : text".
    void ShowTimedEvent(const Text& text);
    void OsprineLog(int16_t slot, const Text& text);
    // The usual pair: window line "hh:nn:ss : [slot] text" and file line with the slot.
    void Report(int16_t slot, const Text& text);
    // A server-wide pair: window line "hh:nn:ss : text", file line with slot 0.
    void ReportServer(const Text& text);

    QString LogPath() const;
    static Text FileHeader();
    static Text FileLine(const Text& stamp, int16_t slot, const Text& line);

private:
    QString mainDir_;
    QByteArray logFile_;   // the path as the system takes it, made once
    const int32_t& maxLogSize_;
    Sink sink_;
    BoxSink boxSink_;
};
