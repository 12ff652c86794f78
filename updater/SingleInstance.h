#pragma once
// One running copy per working directory: a local socket named after the
// program and the directory. A second start asks the first to come to the
// front and ends. The socket lives in the session's runtime directory when
// that is this user's alone, else in the temporary directory; there another
// user may take the name first, and a start then runs without the guard
// rather than give way to a stranger.
#include <QLocalServer>
#include <QObject>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    SingleInstance(const QString& program, const QString& workDir, QObject* parent = nullptr);

    // True when this copy runs: it is the only one (and now answers later
    // starts), or no guard was possible (Problem() says why when that needs
    // telling). False when another copy of this user runs here, which has
    // been asked to come to the front.
    bool Claim();

    // The socket's full path.
    QString ServerName() const { return name_; }
    QString Problem() const { return problem_; }

signals:
    void ActivationRequested();

private:
    bool Listen();

    QString name_;
    QString problem_;
    QLocalServer server_;
};
