#pragma once
// One server per BBS installation: a local socket named after the program
// and the working directory, in a directory only this user can write (see
// ControlSocket.h). A second start asks the first to come to the front and
// ends. The same socket carries the control commands of osprinectl: one
// line in ("flush", "reload", "stats"), the answer out. A peer of another
// user is dropped without an answer.
#include <QByteArray>
#include <QLocalServer>
#include <QObject>
#include <functional>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& workingDir, QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Start {
        Alone,         // listening now
        RunningCopy,   // a running copy answered and was asked to show itself
        Refused,       // the name is held by another program, or the listen failed
    };
    // Asks a running copy to come forward, else takes the name; `why` says
    // what went wrong when it is refused.
    Start Claim(QString& why);
    QString Path() const { return path_; }
    // The process id of the running copy that Claim found.
    qint64 RunningPid() const { return runningPid_; }
    // Answers a control command; an unknown one gets an empty answer.
    void SetCommandHandler(std::function<QByteArray(const QByteArray&)> handler) { handler_ = std::move(handler); }

    // Longest command line taken; a peer that sends more is dropped.
    static constexpr qint64 kMaxCommand = 256;
    // What a running server answers to "activate": "OK " and its directory.
    static QByteArray ActivateAnswer(const QString& workingDir);

signals:
    void activateRequested();

private:
    void OnCommand(class QLocalSocket* peer);

    QString workingDir_;
    QString path_;
    bool listening_ = false;
    qint64 runningPid_ = 0;
    QLocalServer server_;
    std::function<QByteArray(const QByteArray&)> handler_;
};
