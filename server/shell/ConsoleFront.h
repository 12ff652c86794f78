#pragma once
// The console face of the server: event lines on standard output, message
// boxes on standard error, SIGTERM and SIGINT run the orderly shut-down,
// SIGUSR1 prints the counters.
#include <QObject>
#include <QStringList>

class Engine;
class QSocketNotifier;

class ConsoleFront : public QObject {
    Q_OBJECT
public:
    explicit ConsoleFront(Engine& engine, QObject* parent = nullptr);
    ~ConsoleFront() override;
    // Installs the signal handlers; call once before the event loop.
    bool InstallSignalHandlers();
    void PrintCounters();

private:
    void OnSignal();
    Engine& engine_;
    QSocketNotifier* notifier_ = nullptr;
};

// Runs the server without windows until it is stopped; the exit status.
int RunConsoleFront(Engine& engine, const QStringList& arguments);
