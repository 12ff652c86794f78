#pragma once
// One server per BBS installation: a local socket named after the program
// and the working directory. A second start asks the first to come to the
// front and ends.
#include <QLocalServer>
#include <QObject>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& workingDir, QObject* parent = nullptr);
    // True when a running copy answered (it has been asked to show itself).
    bool ActivateRunningCopy();
    // Starts answering later starts; false when the name cannot be taken.
    bool Listen();
    QString Name() const { return name_; }

signals:
    void activateRequested();

private:
    QString name_;
    QLocalServer server_;
};
