#include "osprinectl/ServerControl.h"
#include "osprinectl/Output.h"
#include "server/shell/ControlSocket.h"

namespace {
constexpr int kAnswerLimitMs = 10000;
}

int AskServer(const Installation& inst, const Text& command) {
    // The server listens in the first of these places that it could use.
    for (const QString& place : control::Candidates(inst.dir)) {
        Text answer;
        QString why;
        switch (control::Ask(place, command, answer, kAnswerLimitMs, &why)) {
        case control::Reach::NoOne:
            continue;
        case control::Reach::Untrusted:
            return ctl::Fail(ctl::kNoServer, "the control socket is held by another program: " + place.toLocal8Bit());
        case control::Reach::Failed:
            return ctl::Fail(ctl::kNoServer, "cannot reach the control socket " + why.toLocal8Bit());
        case control::Reach::Answered:
            break;
        }
        TextList lines = answer.trimmed().split('\n');
        const Text last = lines.takeLast();
        for (const Text& line : lines) ctl::Out(line);
        if (last.startsWith("OK")) {
            if (last.size() > 2) ctl::Out(Trim(last.mid(3)));
            return ctl::kOk;
        }
        return ctl::Fail(ctl::kNoServer, last.isEmpty() ? Text("the server gave no answer") : last);
    }
    return ctl::Fail(ctl::kNoServer, "OSPRINE is not running in " + inst.dir.toLocal8Bit());
}
