#pragma once
// One running copy per working directory: a local socket named after the
// program and the directory. A second start asks the first to come to the
// front and ends.
#include <QLocalServer>
#include <QObject>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    SingleInstance(const QString& program, const QString& workDir, QObject* parent = nullptr);

    // True when this is the only copy (it now answers later starts); false when
    // another copy runs here, which has been asked to come to the front.
    bool Claim();

    QString ServerName() const { return name_; }

signals:
    void ActivationRequested();

private:
    bool Listen();

    QString name_;
    QLocalServer server_;
};
