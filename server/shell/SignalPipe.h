#pragma once
// POSIX signals handled on the event loop: the handler only writes the
// signal's number into a socket pair, whose reading end the loop watches.
// One per process (both fronts use it, never together).
#include <QObject>
#include <functional>
#include <initializer_list>

class QSocketNotifier;

class SignalPipe : public QObject {
    Q_OBJECT
public:
    explicit SignalPipe(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    // Routes the signals here and ignores SIGPIPE; false when the pipe
    // cannot be made or one is installed already.
    bool Install(std::initializer_list<int> caught);

private:
    void Drain();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};
