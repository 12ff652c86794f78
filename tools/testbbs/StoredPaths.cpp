#include "tools/testbbs/StoredPaths.h"

#include "server/store/Files.h"

#include <QDir>

namespace {
bool Fits(const Text& path, int width, bool noSpaces) {
    return path.size() <= width && !(noSpaces && path.contains(' '));
}
}   // namespace

Text StoredDir(const QString& mainDir, const QString& dir, int width, bool noSpaces) {
    const Text absolute = TextFromPath(dir);
    if (Fits(absolute, width, noSpaces)) return absolute;
    return TextFromPath(QDir(mainDir).relativeFilePath(dir));
}

Text StoredMainDir(const QString& mainDir, int width) {
    const Text absolute = TextFromPath(mainDir);
    return Fits(absolute, width, false) ? absolute : Text(".");
}
