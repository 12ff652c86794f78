#include "osprinectl/ServerControl.h"
#include <QLocalSocket>
#include "osprinectl/Output.h"
#include "server/shell/SingleInstance.h"

namespace {
constexpr int kAnswerLimitMs = 10000;
}

int AskServer(const Installation& inst, const Text& command) {
    QLocalSocket socket;
    socket.connectToServer(SingleInstance::NameFor(inst.dir));
    if (!socket.waitForConnected(2000))
        return ctl::Fail(ctl::kNoServer, "OSPRINE is not running in " + inst.dir.toLocal8Bit());
    socket.write(command + "\n");
    Text answer;
    while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(kAnswerLimitMs))
        answer += socket.readAll();
    answer += socket.readAll();
    TextList lines = answer.trimmed().split('\n');
    const Text last = lines.takeLast();
    for (const Text& line : lines) ctl::Out(line);
    if (last.startsWith("OK")) {
        if (last.size() > 2) ctl::Out(Trim(last.mid(3)));
        return ctl::kOk;
    }
    return ctl::Fail(ctl::kNoServer, last.isEmpty() ? Text("the server gave no answer") : last);
}
