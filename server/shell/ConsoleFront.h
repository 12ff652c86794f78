#pragma once
// The console face of the server: event lines on standard output, message
// boxes on standard error, SIGTERM and SIGINT run the orderly shut-down,
// SIGHUP reloads the settings, SIGUSR1 prints the counters.
#include <QObject>
#include <QStringList>

class Engine;
class SignalPipe;

class ConsoleFront : public QObject {
    Q_OBJECT
public:
    explicit ConsoleFront(Engine& engine, QObject* parent = nullptr);
    ~ConsoleFront() override;
    // Installs the signal handlers; call once before the event loop.
    bool InstallSignalHandlers();
    void PrintCounters();
    // The window record without a window: removed while SaveWindowPos is
    // off, kept as it was read while it is on (there is no screen position
    // to take over, so none is made up).
    void LoadDat();
    void SaveDat();
    // The start-up line on standard output.
    void SayStarted();
    // Ends the program with status 1 whenever the listener cannot be opened.
    void EndWhenNotListening();

private:
    void OnSignal(int signal);
    void ShowLine(const QByteArray& line);
    Engine& engine_;
    bool interactive_;
    bool flushHooked_ = false;
    SignalPipe* signals_ = nullptr;
    bool stopping_ = false;
};

// Runs the server without windows until it is stopped; the exit status.
int RunConsoleFront(Engine& engine, const QStringList& arguments);
