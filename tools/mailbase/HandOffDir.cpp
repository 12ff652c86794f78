#include "tools/mailbase/HandOffDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <tuple>
#include <vector>

namespace {

bool IsHandOffName(const QString& name) {
    return name.size() >= 3 && name.startsWith('V', Qt::CaseInsensitive) && name.endsWith(".D", Qt::CaseInsensitive);
}

long NumberOf(const QString& name) { return name.mid(1, name.size() - 3).toLong(); }

struct Waiting {
    int64_t seconds, nanoseconds;
    long number;
    QString name;
    bool operator<(const Waiting& o) const {
        return std::tie(seconds, nanoseconds, number, name) < std::tie(o.seconds, o.nanoseconds, o.number, o.name);
    }
};

}   // namespace

QStringList PendingHandOffs(const QString& dir, const QSet<QString>& skip) {
    std::vector<Waiting> waiting;
    DIR* d = ::opendir(QFile::encodeName(dir).constData());
    if (!d) return {};
    while (const dirent* e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (!IsHandOffName(name) || skip.contains(name)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        waiting.push_back({st.st_mtim.tv_sec, st.st_mtim.tv_nsec, NumberOf(name), name});
    }
    ::closedir(d);
    std::sort(waiting.begin(), waiting.end());
    QStringList names;
    names.reserve(qsizetype(waiting.size()));
    for (const Waiting& w : waiting) names.append(w.name);
    return names;
}

bool ReadWholeFile(const QString& path, Text& content, qint64 limit) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= limit;
    content.resize(ok ? qsizetype(st.st_size) : 0);
    qsizetype got = 0;
    while (ok && got < content.size()) {
        const ssize_t n = ::read(fd, content.data() + got, size_t(content.size() - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;   // the file shrank: keep what is there
        got += n;
    }
    ::close(fd);
    content.truncate(got);
    return ok;
}

bool RemoveHandOff(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}
