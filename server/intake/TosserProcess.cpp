#include "server/intake/TosserProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <QFile>

extern char** environ;

pid_t StartTosserShell(const QString& script, const QString& workingDir) {
    const QByteArray scriptName = QFile::encodeName(script);
    const QByteArray dir = QFile::encodeName(workingDir);
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawnattr_init(&attributes);
    for (int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&files, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&files, dir.constData());
    // A spawn shares the server's memory until the shell starts instead of
    // copying its page tables, as a fork would, every time the tosser runs.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    char sh[] = "/bin/sh";
    char* argv[] = {sh, const_cast<char*>(scriptName.constData()), nullptr};
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, sh, &files, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return failed == 0 ? pid : 0;
}

bool TosserShellRunning(pid_t pid) {
    if (pid <= 0) return false;
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    return ended == 0;   // -1: not ours any more (already reaped), pid: it ended now
}
