#pragma once
// The tosser runs as its own process, started with /bin/sh on the script the
// server writes. It outlives the server if need be, in a session of its own
// so that a signal meant for the server's terminal does not stop it halfway.
#include <sys/types.h>
#include <QString>

// The started shell's process id, or 0 when it could not be started.
pid_t StartTosserShell(const QString& script, const QString& workingDir);

// Whether the process started last is still running; an ended one is reaped.
bool TosserShellRunning(pid_t pid);
