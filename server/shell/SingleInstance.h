#pragma once
// One server per BBS installation: a local socket named after the program
// and the working directory. A second start asks the first to come to the
// front and ends. The same socket carries the control commands of
// osprinectl: one line in ("flush", "reload", "stats"), the answer out.
#include <QByteArray>
#include <QLocalServer>
#include <QObject>
#include <functional>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& workingDir, QObject* parent = nullptr);
    // True when a running copy answered (it has been asked to show itself);
    // `pid`, when given, receives its process id.
    bool ActivateRunningCopy(qint64* pid = nullptr);
    // Starts answering later starts; false when the name cannot be taken.
    bool Listen();
    QString Name() const { return name_; }
    // Answers a control command; an unknown one gets an empty answer.
    void SetCommandHandler(std::function<QByteArray(const QByteArray&)> handler) { handler_ = std::move(handler); }

    // The socket's name for the installation in `workingDir`.
    static QString NameFor(const QString& workingDir);
    // Longest command line taken; a peer that sends more is dropped.
    static constexpr qint64 kMaxCommand = 256;

signals:
    void activateRequested();

private:
    void OnCommand(class QLocalSocket* peer);

    QString name_;
    QLocalServer server_;
    std::function<QByteArray(const QByteArray&)> handler_;
};
