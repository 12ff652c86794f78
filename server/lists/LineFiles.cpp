#include "server/lists/LineFiles.h"

#include "server/store/Files.h"

#include <QFile>
#include <cstdio>

TextList ReadLines(const QString& path) {
    bool ok = false;
    const Text bytes = ReadFileBytes(path, &ok);
    return ok ? SplitLines(bytes) : TextList();
}

bool WriteLinesVia(const QString& path, const QString& tempPath, const TextList& lines) {
    Text bytes;
    for (const Text& line : lines) bytes += line + CRLF;
    QFile temp(tempPath);
    if (!temp.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const bool written = temp.write(bytes) == bytes.size() && temp.flush();
    temp.close();
    // rename(2) replaces the target in one step.
    if (!written || std::rename(QFile::encodeName(tempPath).constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(tempPath);
        return false;
    }
    return true;
}
