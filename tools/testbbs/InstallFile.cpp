#include "tools/testbbs/InstallFile.h"

#include <QFile>
#include <cstdio>

bool WriteInstallFile(const QString& path, const Text& bytes) {
    const QString partial = path + ".new";
    QFile f(partial);
    const bool written =
        f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
    f.close();
    if (written && std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) == 0)
        return true;
    QFile::remove(partial);
    return false;
}
