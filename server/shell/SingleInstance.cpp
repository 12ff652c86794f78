#include "server/shell/SingleInstance.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTimer>
#include "server/shell/ControlSocket.h"

namespace {
// A peer that says nothing is dropped after this long.
constexpr int kPeerLimitMs = 5000;
// How long a second start waits for the running copy's answer.
constexpr int kActivateLimitMs = 2000;
}   // namespace

QByteArray SingleInstance::ActivateAnswer(const QString& workingDir) {
    return "OK " + QDir(workingDir).canonicalPath().toUtf8();
}

SingleInstance::SingleInstance(const QString& workingDir, QObject* parent) : QObject(parent), workingDir_(workingDir) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            if (!control::PeerTrusted(int(peer->socketDescriptor()))) {
                peer->abort();   // another user: no answer at all
                peer->deleteLater();
                continue;
            }
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] { OnCommand(peer); });
            QTimer::singleShot(kPeerLimitMs, peer, [peer] { peer->abort(); });
        }
    });
}

SingleInstance::~SingleInstance() {
    if (listening_) {
        server_.close();
        unlink(QFile::encodeName(path_).constData());
    }
}

void SingleInstance::OnCommand(QLocalSocket* peer) {
    if (!peer->canReadLine()) {
        if (peer->bytesAvailable() > kMaxCommand) peer->abort();
        return;
    }
    const QByteArray command = peer->readLine(kMaxCommand).trimmed();
    if (command == "activate") {
        peer->write(ActivateAnswer(workingDir_) + '\n');
        emit activateRequested();
    } else if (handler_) {
        peer->write(handler_(command));
    }
    peer->disconnectFromServer();
}

SingleInstance::Start SingleInstance::Claim(QString& why) {
    path_ = control::ListenPath(workingDir_, why);
    if (path_.isEmpty()) {
        why = "No private directory for the control socket: " + why;
        return Start::Refused;
    }
    const QString held = "The control socket of this installation is held by another program: " + path_;
    // Runs before the event loop starts, so short blocking waits are harmless.
    for (const QString& place : control::Candidates(workingDir_)) {
        QByteArray answer;
        const control::Reach reach = control::Ask(place, "activate", answer, kActivateLimitMs, &why, &runningPid_);
        if (reach == control::Reach::Answered && answer.trimmed() == ActivateAnswer(workingDir_))
            return Start::RunningCopy;
        if (place == path_ && reach != control::Reach::NoOne) {
            if (reach != control::Reach::Failed) why = held;
            return Start::Refused;
        }
    }
    struct stat st {};
    if (lstat(QFile::encodeName(path_).constData(), &st) == 0 && !S_ISSOCK(st.st_mode)) {
        why = held;
        return Start::Refused;
    }
    const int fd = control::ListenAt(path_, why);
    if (fd < 0 || !server_.listen(fd)) {
        if (fd >= 0) close(fd);
        why = "Cannot listen on the control socket " + path_ + ": " + (fd < 0 ? why : server_.errorString());
        return Start::Refused;
    }
    listening_ = true;
    return Start::Alone;
}
