#include "server/bbs/MessageFiles.h"

#include "server/store/DurableFile.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

#include <QFile>
#include <QFileInfo>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// The number of a name of the form "V" + digits + ".D" (any case), else 0.
int NumberOfName(const char* name) {
    const size_t length = std::strlen(name);
    if (length < 4 || length > 8 || (name[0] != 'V' && name[0] != 'v')) return 0;
    if (name[length - 2] != '.' || (name[length - 1] != 'D' && name[length - 1] != 'd')) return 0;
    if (name[1] == '0') return 0;
    int n = 0;
    for (size_t i = 1; i < length - 2; ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// Numbers in use, index n true when "V" + n + ".D" exists in some case. The
// directory is read by name only, without a look at each entry, since this
// runs for every message written.
std::vector<bool> UsedNumbers(const QString& directory) {
    std::vector<bool> used(kMaxMessageNumber + 1, false);
    DIR* dir = ::opendir(QFile::encodeName(directory).constData());
    if (!dir) return used;
    while (const dirent* entry = ::readdir(dir)) {
        const int n = NumberOfName(entry->d_name);
        if (n >= 1 && n <= kMaxMessageNumber) used[n] = true;
    }
    ::closedir(dir);
    return used;
}

int FirstFree(const std::vector<bool>& used, int from) {
    for (int n = from; n <= kMaxMessageNumber; ++n)
        if (!used[n]) return n;
    return 0;
}

// Gives the finished temporary file its final name, unless that name exists.
bool RenameNoReplace(const QByteArray& from, const QByteArray& to, bool* nameTaken) {
    *nameTaken = false;
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) {
        *nameTaken = true;
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems that cannot rename without replacing: a hard link can't either.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    *nameTaken = errno == EEXIST;
    return false;
}

// Writes all pieces in few calls, at most a mebibyte each: one huge write
// into a new file costs a file system like ext4 several times what the same
// bytes cost in slices.
constexpr size_t kLargestWrite = 1 << 20;

bool WriteAll(int fd, const TextList& pieces) {
    std::vector<iovec> parts;
    for (const Text& piece : pieces)
        for (qsizetype at = 0; at < piece.size(); at += qsizetype(kLargestWrite))
            parts.push_back(
                {const_cast<char*>(piece.constData()) + at, std::min(size_t(piece.size() - at), kLargestWrite)});
    size_t next = 0;
    while (next < parts.size()) {
        // As many whole parts as make up to a mebibyte, and always at least one.
        int count = 1;
        size_t bytes = parts[next].iov_len;
        while (next + size_t(count) < parts.size() && count < IOV_MAX &&
               bytes + parts[next + size_t(count)].iov_len <= kLargestWrite)
            bytes += parts[next + size_t(count++)].iov_len;
        const ssize_t written = ::writev(fd, parts.data() + next, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        // Step past what went out; a part written in part keeps its rest.
        size_t left = size_t(written);
        while (next < parts.size() && left >= parts[next].iov_len) left -= parts[next++].iov_len;
        if (left > 0) {
            parts[next].iov_base = static_cast<char*>(parts[next].iov_base) + left;
            parts[next].iov_len -= left;
        }
    }
    return true;
}

// The temporary name of a message file: the writer's process id and a sequence number.
QString TemporaryName(pid_t writer, unsigned sequence) {
    return QStringLiteral("osprine-%1-%2.tmp").arg(writer).arg(sequence);
}

// The process id in a temporary name, or 0 when the name is not one.
pid_t WriterOfTemporary(std::string_view name) {
    constexpr std::string_view prefix = "osprine-", suffix = ".tmp";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix)) return 0;
    name = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const auto Digits = [](std::string_view part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const size_t dash = name.find('-');
    if (dash == std::string_view::npos || !Digits(name.substr(0, dash)) || !Digits(name.substr(dash + 1))) return 0;
    int32_t pid = 0;
    const auto [end, fault] = std::from_chars(name.data(), name.data() + dash, pid);
    return fault == std::errc() && pid > 0 ? pid_t(pid) : 0;
}

bool ProcessGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

void Fault(const QString& what) { LogError("WriteMessageFile", kVersion, "modOSPRINE", QFile::encodeName(what)); }

// A new file holding the pieces, under a name no reader looks for. A
// failure is logged with the file and the system's reason, and leaves nothing.
QByteArray WriteTemporary(const QString& directory, const TextList& pieces) {
    static std::atomic<unsigned> sequence = 0;   // the disk thread writes them too
    static const pid_t self = ::getpid();
    QByteArray path;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        path = QFile::encodeName(PathJoin(directory, TemporaryName(self, ++sequence)));
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kSharedFile);
        if (fd < 0 && errno != EEXIST) break;   // a name left by an earlier run is skipped
    }
    if (fd < 0) {
        Fault(SystemError(QFile::decodeName(path)));
        return {};
    }
    // On stable storage before it gets its name: a message file is what the
    // server answers 250 for, and a power cut must not leave it empty.
    bool ok = WriteAll(fd, pieces) && SyncFileData(fd);
    ok = (::close(fd) == 0) && ok;
    if (ok) return path;
    Fault(SystemError(QFile::decodeName(path)));
    ::unlink(path.constData());
    return {};
}

// Gives the synced temporary the lowest free name of the directory; its
// number, or 0 with the temporary removed.
int NameMessageFile(const QString& directory, const QByteArray& temp, std::vector<bool>& used) {
    // Another writer may take the chosen name meanwhile: try the next one.
    for (int n = FirstFree(used, 1); n != 0; n = FirstFree(used, n + 1)) {
        bool taken = false;
        if (RenameNoReplace(temp, QFile::encodeName(PathJoin(directory, MessageFileName(n))), &taken)) return n;
        if (!taken) {
            Fault(SystemError(PathJoin(directory, MessageFileName(n))));
            break;
        }
        used[n] = true;
    }
    ::unlink(temp.constData());
    return 0;
}

}   // namespace

QString MessageFileName(int n) { return QStringLiteral("V%1.D").arg(n); }

int16_t GetNextMessageNumber(const QString& directory) { return int16_t(FirstFree(UsedNumbers(directory), 1)); }

DiskJob NewMessageFileJob(const QString& directory, const TextList& pieces, std::shared_ptr<int> number) {
    const auto write = [directory, pieces, number] {
        std::vector<bool> used = UsedNumbers(directory);
        *number = 0;
        if (FirstFree(used, 1) == 0) return false;
        const QByteArray temp = WriteTemporary(directory, pieces);
        if (!temp.isEmpty()) *number = NameMessageFile(directory, temp, used);
        return *number != 0;
    };
    // The new name is durable only once its directory is; if that fails, the
    // file goes again, so that nothing stands that was not answered for.
    const auto undo = [directory, number] {
        ::unlink(QFile::encodeName(PathJoin(directory, MessageFileName(*number))).constData());
    };
    return {write, directory, undo};
}

int WriteNewMessageFile(const QString& directory, const TextList& pieces) {
    const auto number = std::make_shared<int>(0);
    return RunDiskJob(NewMessageFileJob(directory, pieces, number)) ? *number : 0;
}

bool ReplaceMessageFile(const QString& path, const Text& content) {
    const QString directory = QFileInfo(path).absolutePath();
    const QByteArray temp = WriteTemporary(directory, TextList{content});
    if (temp.isEmpty()) return false;
    if (::rename(temp.constData(), QFile::encodeName(path).constData()) != 0 || !SyncDirectory(directory)) {
        Fault(SystemError(path));
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

int RemoveStaleMessageTemporaries(const QString& directory) {
    DIR* dir = ::opendir(QFile::encodeName(directory).constData());
    if (!dir) return 0;
    std::vector<QByteArray> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t writer = WriterOfTemporary(entry->d_name);
        if (writer != 0 && writer != ::getpid() && ProcessGone(writer)) stale.push_back(entry->d_name);
    }
    ::closedir(dir);
    int removed = 0;
    for (const QByteArray& name : stale)
        if (::unlink(QFile::encodeName(PathJoin(directory, QFile::decodeName(name))).constData()) == 0) ++removed;
    return removed;
}
