#pragma once
// The server's engine: owns the process-wide records, the sessions, the
// intake, the outbound client and the four timers. It knows nothing of
// widgets; the window front and the console front show what it reports.
#include "server/bbs/ServerContext.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

class InboundServer;
class Intake;
class OutboundClient;

class Engine : public QObject {
    Q_OBJECT
public:
    explicit Engine(QObject* parent = nullptr);
    ~Engine() override;

    // The start-up sequence up to the open listener. False when a fatal
    // configuration problem ended it (fatalError has been emitted).
    bool Start(const QStringList& arguments);
    // The orderly shut-down: timers off, records saved, sockets closed.
    void Shutdown();

    // Settings reload with the start-up checks; false on a fatal problem.
    bool LoadCfg();
    void SaveCfg();
    bool LoadNetCfg();
    // After the settings dialog: re-open the listener on a new port when no
    // session is active, switch Timer4, drop the statistics file when off.
    void ApplySettings();
    // The menu's BBS-network reload after the network dialog.
    bool IsActive() const;
    // The listener: whether it is open, where, and why not.
    bool Listening() const;
    Text ListenAddress() const;   // "0.0.0.0 and [::] port 2701"
    Text ListenFailure() const;   // "port 25: Permission denied (...)"
    bool StartTlsOffered() const;
    // What "osprinectl status" prints of the running server.
    TextList StatusLines() const;
    // Recomputes ActiveConnections and refreshes the display and the file now.
    void UpdateStats();
    // Block-list zones out of service, with the reason of each.
    QHash<Text, Text> ZonesOutOfService() const;
    // Loads the inbound certificate afresh; what the server says about it.
    Text InboundTlsState();
    // SIGHUP and "osprinectl reload": the settings and the BBS's network
    // files read now, then applied as after the settings dialog.
    bool Reload();
    // A control command of osprinectl ("flush", "reload", "stats"); the
    // answer, one line each, ending "OK" or "ERROR: ...".
    QByteArray Control(const QByteArray& command);

    ServerContext& Context() { return ctx_; }
    SettingsRecord& Settings() { return settings_; }
    WindowRecord& Window() { return window_; }
    BbsConfig& Bbs() { return bbs_; }
    Statistics& Stats() { return stats_; }
    RunState& Run() { return run_; }
    EventLog& Log() { return log_; }
    bool OutboundConnected() const;
    bool OutboundTimerActive() const { return timer4_.isActive(); }   // Timer4 runs while SmtpClient = 1

    // Set by the window front: it may replace the invalid-spool message box
    // with the network dialog. Returns true when the sysop fixed the spool.
    std::function<bool()> onInvalidSpoolDir;

signals:
    void eventLine(const QByteArray& line);   // one event-window line
    void messageBox(const QByteArray& title, const QByteArray& text);
    void fatalError(const QByteArray& title, const QByteArray& text);   // the program must end (status 1)
    void statsChanged();
    void stateChanged();
    void dailyDisplayReset();   // the window clears its events
    void activateRequested();   // a second start asks for the window

private:
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void DailyMaintenance();
    void GetStats();
    void PutStats();
    void DeleteTossBatch();
    void RemoveUnfinishedFiles();
    void Fatal(const Text& text);

    SettingsRecord settings_;
    WindowRecord window_;
    BbsConfig bbs_;
    Statistics stats_;
    RunState run_;
    EventLog log_;
    ServerContext ctx_;
    QDate lastDisplayDate_;
    Text loadProblem_;            // why the last LoadCfg read nothing: "Cannot read FILE: reason"
    bool statsChanged_ = false;   // a counter changed since the display and the file were refreshed

    std::unique_ptr<Intake> intake_;
    std::unique_ptr<InboundServer> inbound_;
    std::unique_ptr<OutboundClient> outbound_;
    QTimer timer1_, timer2_, timer3_, timer4_;
};
