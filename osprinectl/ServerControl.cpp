#include "osprinectl/ServerControl.h"
#include "osprinectl/Output.h"
#include "server/shell/ControlSocket.h"

namespace {
constexpr int kAnswerLimitMs = 10000;
}

ServerAnswer QueryServer(const Installation& inst, const Text& command) {
    ServerAnswer answer;
    // The server listens in the first of these places that it could use.
    for (const QString& place : control::Candidates(inst.dir)) {
        Text text;
        QString why;
        switch (control::Ask(place, command, text, kAnswerLimitMs, &why)) {
        case control::Reach::NoOne:
            continue;
        case control::Reach::Untrusted:
            answer.why = "the control socket is held by another program: " + place.toLocal8Bit();
            return answer;
        case control::Reach::Failed:
            answer.why = "cannot reach the running server: " + why.toLocal8Bit();
            return answer;
        case control::Reach::Answered:
            break;
        }
        answer.reached = true;
        answer.lines = text.trimmed().split('\n');
        answer.last = answer.lines.takeLast();
        return answer;
    }
    answer.why = "OSPRINE is not running in " + inst.dir.toLocal8Bit();
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
