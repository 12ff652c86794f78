#include "osprinectl/ServerControl.h"
#include <QLocalSocket>
#include "osprinectl/Output.h"
#include "server/shell/SingleInstance.h"

namespace {
constexpr int kAnswerLimitMs = 10000;
}

ServerAnswer QueryServer(const Installation& inst, const Text& command) {
    ServerAnswer answer;
    QLocalSocket socket;
    socket.connectToServer(SingleInstance::NameFor(inst.dir));
    if (!socket.waitForConnected(2000)) {
        // No socket at all: no server. A socket that refuses us (another
        // user's, a dead server's) is named with the system's reason.
        if (socket.error() == QLocalSocket::ServerNotFoundError) {
            answer.why = "OSPRINE is not running in " + inst.dir.toLocal8Bit();
        } else {
            QString reason = socket.errorString();
            reason.remove("QLocalSocket::connectToServer: ");
            answer.why = "cannot reach the running server: " + reason.toLocal8Bit();
        }
        return answer;
    }
    answer.reached = true;
    socket.write(command + "\n");
    Text text;
    while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(kAnswerLimitMs))
        text += socket.readAll();
    text += socket.readAll();
    answer.lines = text.trimmed().split('\n');
    answer.last = answer.lines.takeLast();
    return answer;
}

int AskServer(const Installation& inst, const Text& command) {
    const ServerAnswer answer = QueryServer(inst, command);
    if (!answer.reached) return ctl::Fail(ctl::kNoServer, answer.why);
    for (const Text& line : answer.lines) ctl::Out(line);
    if (answer.last.startsWith("OK")) {
        if (answer.last.size() > 2) ctl::Out(Trim(answer.last.mid(3)));
        return ctl::kOk;
    }
    return ctl::Fail(ctl::kNoServer, answer.last.isEmpty() ? Text("the server gave no answer") : answer.last);
}
