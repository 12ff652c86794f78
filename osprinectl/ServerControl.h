#pragma once
// Asks the running server of an installation through its single-instance
// socket: "flush", "reload", "stats", "status".
#include "osprinectl/Installation.h"

// The server's answer to one command, its last line ("OK ..." or
// "ERROR: ...") apart; or, when no server answered, why not.
struct ServerAnswer {
    bool reached = false;
    Text why;         // when not reached: "OSPRINE is not running in DIR", "cannot reach ..."
    TextList lines;   // the answer's lines before the last
    Text last;
};
ServerAnswer QueryServer(const Installation& installation, const Text& command);

// Sends the command and prints the answer; the exit status: 0 when the
// server did it, 1 when none runs or it could not.
int AskServer(const Installation& installation, const Text& command);
