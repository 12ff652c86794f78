#include "server/lists/LineFiles.h"

#include "server/store/Files.h"

TextList ReadLines(const QString& path) {
    bool ok = false;
    const Text bytes = ReadFileBytes(path, &ok);
    return ok ? SplitLines(bytes) : TextList();
}

bool WriteLines(const QString& path, const TextList& lines) {
    Text bytes;
    for (const Text& line : lines) bytes += line + CRLF;
    // The BBS's own programs write these files too.
    return WriteFileAtomic(path, bytes, kSharedFile);
}
