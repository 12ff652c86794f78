#include "osprinectl/Identity.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>

namespace {
Text Errno() { return Text(std::strerror(errno)); }
}   // namespace

std::optional<Text> BecomeOwnerOf(const QString& dir) {
    if (geteuid() != 0) return std::nullopt;
    struct stat st {};
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0) return QFile::encodeName(dir) + ": " + Errno();
    if (st.st_uid == 0) return std::nullopt;
    // An owner without an account keeps no supplementary groups.
    const passwd* account = getpwuid(st.st_uid);
    const gid_t group = account ? account->pw_gid : st.st_gid;
    const bool grouped = account ? initgroups(account->pw_name, group) == 0 : setgroups(0, nullptr) == 0;
    if (!grouped || setgid(group) != 0 || setuid(st.st_uid) != 0)
        return "cannot become the owner of " + QFile::encodeName(dir) + " (uid " + Text::number(st.st_uid) +
               "): " + Errno();
    if (setuid(0) == 0) return Text("could not give up root");
    // The runtime directory of root's session is not the owner's.
    qunsetenv("XDG_RUNTIME_DIR");
    return std::nullopt;
}
