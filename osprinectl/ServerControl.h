#pragma once
// Asks the running server of an installation through its single-instance
// socket: "flush", "reload", "stats".
#include "osprinectl/Installation.h"

// Sends the command and prints the answer; the exit status: 0 when the
// server did it, 1 when none runs or it could not.
int AskServer(const Installation& installation, const Text& command);
