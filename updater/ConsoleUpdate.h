#pragma once
// The update checker without a display: the same start-up and scan, the
// list written as text lines.
#include <QIODevice>
#include "updater/StartUp.h"
#include "updater/UpdateScan.h"

class ConsoleUpdate : public QObject {
    Q_OBJECT
public:
    ConsoleUpdate(const UpdateAddresses& addresses, QIODevice& output, QObject* parent = nullptr);

    void Start(const QStringList& arguments, const QString& workDir);

signals:
    void Ended(int exitCode);

private:
    void ShowScanResult(const ScanResult& result);

    UpdateAddresses addresses_;
    QIODevice& output_;
    UpdateService service_;
    StartOptions options_;
    QString mainDir_;
};

// One list row: program, version, description, file name, size, MD5, separated by TAB.
Text ConsoleRow(const UpdateEntry& entry);
