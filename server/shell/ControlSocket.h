#pragma once
// Where the single-instance and control socket of an installation lives, and
// the checks both of its ends make. The socket sits in a directory that no
// other user can write: the service's runtime directory, the user's runtime
// directory, or a private directory "OSPRCTL" in the working directory. Each
// end asks the kernel who the other is (SO_PEERCRED): only the same user or
// root is answered.
#include <QString>
#include <QStringList>

namespace control {

// The socket's file name for the installation in `workingDir`.
QString SocketName(const QString& workingDir);

// The socket path this process listens on, its directory made or checked
// (ours, no access for others); empty with the reason in `why` when none is
// safe.
QString ListenPath(const QString& workingDir, QString& why);

// Every place where a server of the installation may listen, in the order
// they are tried: the environment's runtime directories, the service
// instances' (/run/osprine/*), the user's session directory, then the
// private directory. Only directories that belong to this user (or root)
// and that no one else can write are looked at; a path is listed when a
// socket is there, or when this user may not look (trying it then says so).
QStringList Candidates(const QString& workingDir);

// True when the peer of the connected local socket `fd` runs as this
// process's user or as root.
bool PeerTrusted(int fd);

enum class Reach { Answered, NoOne, Untrusted, Failed };

// Sends one command line to the socket at `path` and reads the answer until
// the peer closes (blocking, up to `limitMs` for each read). NoOne: nothing
// listens there; Untrusted: another user's program holds it (nothing sent).
// `peerPid`, when given, receives the process id of the socket's other end.
Reach Ask(const QString& path, const QByteArray& command, QByteArray& answer, int limitMs, QString* why = nullptr,
          qint64* peerPid = nullptr);

// Makes a listening socket at `path` (a stale socket file is replaced);
// returns its descriptor, or -1 with the reason.
int ListenAt(const QString& path, QString& why);

}   // namespace control
