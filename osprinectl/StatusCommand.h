#pragma once
// "osprinectl status": whether the server runs, where it listens, whether it
// offers STARTTLS, how much mail waits, and the last fault it logged.
#include "osprinectl/Installation.h"

extern const char* const kStatusHelp;

// Exit status 0 when the server runs, 1 when it does not.
int RunStatus(const Installation& installation);
