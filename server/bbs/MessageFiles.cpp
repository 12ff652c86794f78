#include "server/bbs/MessageFiles.h"

#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

#include <QFile>
#include <QTemporaryFile>
#include <vector>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

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
bool LinkNoReplace(const QString& from, const QString& to, bool* nameTaken) {
    *nameTaken = false;
    const QByteArray src = QFile::encodeName(from), dst = QFile::encodeName(to);
    if (::link(src.constData(), dst.constData()) == 0) {
        ::unlink(src.constData());
        return true;
    }
    if (errno == EEXIST) {
        *nameTaken = true;
        return false;
    }
    // File systems without hard links: a rename that refuses to replace.
    if (QFile::exists(to)) {
        *nameTaken = true;
        return false;
    }
    return QFile::rename(from, to);
}

void Fault(const QString& what) { LogError("WriteMessageFile", kVersion, "modOSPRINE", QFile::encodeName(what)); }

}  // namespace

QString MessageFileName(int n) { return QStringLiteral("V%1.D").arg(n); }

int16_t GetNextMessageNumber(const QString& directory) {
    return int16_t(FirstFree(UsedNumbers(directory), 1));
}

int WriteNewMessageFile(const QString& directory, const TextList& pieces) {
    std::vector<bool> used = UsedNumbers(directory);
    int n = FirstFree(used, 1);
    if (n == 0) return 0;

    QTemporaryFile temp(PathJoin(directory, QStringLiteral("osprine-XXXXXX.tmp")));
    if (!temp.open()) {
        Fault(directory + ": " + temp.errorString());
        return 0;
    }
    for (const Text& piece : pieces) {
        if (temp.write(piece) != piece.size()) {
            Fault(temp.fileName() + ": " + temp.errorString());
            return 0;
        }
    }
    if (!temp.flush()) {
        Fault(temp.fileName() + ": " + temp.errorString());
        return 0;
    }
    temp.close();
    // Another writer may take the chosen name meanwhile: try the next one.
    while (n != 0) {
        bool taken = false;
        if (LinkNoReplace(temp.fileName(), PathJoin(directory, MessageFileName(n)), &taken)) {
            temp.setAutoRemove(false);
            return n;
        }
        if (!taken) {
            Fault(PathJoin(directory, MessageFileName(n)) + ": cannot be created");
            return 0;
        }
        used[n] = true;
        n = FirstFree(used, n + 1);
    }
    return 0;
}
