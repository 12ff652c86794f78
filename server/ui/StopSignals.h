#pragma once
// SIGTERM and SIGINT ask the windowed server to shut down in order, as
// File > Exit does (a desktop session that ends sends SIGTERM). The signal
// handler only writes a byte; the event loop does the work.
#include <QObject>
#include <functional>

class QSocketNotifier;

class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(std::function<void()> onStop, QObject* parent = nullptr);
    bool Install();

private:
    std::function<void()> onStop_;
    QSocketNotifier* notifier_ = nullptr;
};
