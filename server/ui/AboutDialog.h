#pragma once
// frmAbout: version, uptime, the process's memory and the disclaimer.
#include "server/store/Text.h"

#include <QDateTime>
#include <QDialog>

struct ProcessMemory {
    qint64 workingSetKB = 0;   // resident set
    qint64 pagefileKB = 0;     // swapped out
};
// The process's own counters from /proc/self/status (VmRSS, VmSwap).
ProcessMemory ReadProcessMemory(const QString& statusFile = "/proc/self/status");
QString MemoryUsageText(const ProcessMemory& m);

class frmAbout : public QDialog {
    Q_OBJECT
public:
    frmAbout(const QDateTime& startTime, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
