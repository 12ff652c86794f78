#include "server/bbs/FileRequest.h"

#include "server/store/Files.h"

#include <QFileInfo>
#include <QtEndian>

namespace {

bool IsPlainFileName(const Text& name) {
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == '/' || c == '\\' || c == ':') return false;
    return !name.contains("..");
}

bool IsRegularFile(const QString& path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

Text WithoutTrailingSeparators(Text path) {
    while (path.size() > 1 && (path.endsWith('\\') || path.endsWith('/'))) path.chop(1);
    return Trim(path);
}

// A path stored by the BBS, found on disk ignoring the letter case of its parts.
QString ResolveFile(const Text& stored) {
    const QString path = PathFromText(stored);
    if (QFileInfo::exists(path)) return path;
    const QFileInfo info(path);
    const QString dir = ResolveDir(TextFromPath(info.path()));
    const QString name = FindNameNoCase(dir, info.fileName());
    return name.isEmpty() ? QString() : PathJoin(dir, name);
}

// The file `name` directly inside `dir`, found regardless of case.
QString FileInDir(const QString& dir, const Text& name) {
    const QString found = FindNameNoCase(dir, QString::fromLatin1(name));
    return found.isEmpty() ? QString() : PathJoin(dir, found);
}

QString FindMagicName(const BbsConfig& bbs, const Text& upperName) {
    const Text netDir = Trim(GetNetEntry(bbs, 4, "NETDIR"));
    if (netDir.isEmpty()) return {};
    const QString magicFid = FileInDir(ResolveDir(netDir), "MAGIC.FID");
    if (!FileExists(magicFid)) return {};
    const Text bytes = ReadFileBytes(magicFid);
    for (Text line : SplitLines(bytes)) {
        line = Trim(line);
        if (line.isEmpty()) continue;
        const qsizetype space = line.indexOf(' ');
        const Text magic = UCase(Trim(space < 0 ? line : line.left(space)));
        const Text path = WithoutTrailingSeparators(space < 0 ? Text() : Trim(line.mid(space + 1)));
        if (magic != upperName || path.isEmpty()) continue;
        const QString file = ResolveFile(path);
        if (IsRegularFile(file)) return file;
    }
    return {};
}

QString FindInFileAreas(const BbsConfig& bbs, const Text& name) {
    const Text areas = ReadFileBytes(FileInDir(bbs.MainDir(), "DATABASE.CFG"));
    for (qsizetype at = 0; at + kFileAreaRecordLength <= areas.size(); at += kFileAreaRecordLength) {
        const Text dirText = WithoutTrailingSeparators(Trim(areas.mid(at + 8, 32)));
        const int16_t freqSwitch = qFromLittleEndian<int16_t>(areas.constData() + at + 99);
        if (dirText.isEmpty() || freqSwitch != 1) continue;
        const QString dir = ResolveDir(dirText);
        if (!QFileInfo(dir).isDir()) continue;
        const QString file = FileInDir(dir, name);
        if (IsRegularFile(file)) return file;
    }
    return {};
}

}   // namespace

QString GetFreqFile(const BbsConfig& bbs, const Text& requested) {
    const Text name = Trim(requested);
    if (name.isEmpty() || !IsPlainFileName(name)) return {};
    if (FileInDir(bbs.MainDir(), "DATABASE.CFG").isEmpty()) return {};
    const QString magic = FindMagicName(bbs, UCase(name));
    if (!magic.isEmpty()) return magic;
    return FindInFileAreas(bbs, name);
}
