#include "fuzz/FuzzSupport.h"

#include "server/store/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstdlib>

TextList FuzzParts(const uint8_t* data, size_t size, int count) {
    const Text input = Text::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    static const Text separator("\0\xff", 2);
    TextList parts;
    qsizetype from = 0;
    while (parts.size() < count - 1) {
        const qsizetype at = input.indexOf(separator, from);
        if (at < 0) break;
        parts.append(Text(input.constData() + from, at - from));
        from = at + separator.size();
    }
    parts.append(Text(input.constData() + from, input.size() - from));
    while (parts.size() < count) parts.append(Text());
    return parts;
}

namespace {
// Qt's objects expect an application object; the targets never run its loop.
void EnsureApplication() {
    static int argc = 1;
    static char name[] = "osprine-fuzz";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

void RemoveFilesIn(const QString& dir) {
    QDir d(dir);
    for (const QString& name : d.entryList(QDir::Files | QDir::Hidden)) d.remove(name);
}

void TruncateWhenLarge(const QString& path) {
    if (QFileInfo(path).size() > 1024 * 1024) QFile::resize(path, 0);
}
}   // namespace

FuzzInstall& FuzzInstall::Get() {
    EnsureApplication();
    static FuzzInstall* install = new FuzzInstall;   // lives until the process ends
    return *install;
}

FuzzInstall::FuzzInstall() : log(QString(), settings.MaxLogSize), dir_(QDir::tempPath() + "/osprine-fuzz-XXXXXX") {
    TestBbsOptions options;
    options.installTosser = false;
    options.users = 20;
    QString error;
    layout = CreateTestBbs(dir_.path(), options, &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "fuzz installation: %s\n", qPrintable(error));
        std::abort();
    }
    bbs.paths.fields[0] = TextFromPath(layout.mainDir);
    bbs.paths.fields[2] = TextFromPath(layout.dataDir);
    bbs.paths.fields[6] = TextFromPath(layout.tempDir);
    bbs.paths.fields[7] = TextFromPath(layout.messageDir);
    if (ReadNetCfg(bbs) != NetCfgResult::Ok) {
        std::fprintf(stderr, "fuzz installation: NET.9 unreadable\n");
        std::abort();
    }
    log.SetMainDir(layout.mainDir);
    QDir::setCurrent(layout.mainDir);
}

void FuzzInstall::ResetOutputs() {
    RemoveFilesIn(bbs.SpoolTmpDir());
    RemoveFilesIn(bbs.QueueDir());
    TruncateWhenLarge(PathJoin(layout.messageDir, "EMAIL.DAT"));
    TruncateWhenLarge(PathJoin(layout.messageDir, "EMAIL.BIN"));
    TruncateWhenLarge(PathJoin(layout.dataDir, "SPOOL.NET"));
    TruncateWhenLarge(PathJoin(layout.mainDir, "ZRVERROR.LOG"));
}

QString FuzzInstall::Scratch() {
    const QString dir = PathJoin(layout.mainDir, "FUZZ");
    QDir().mkpath(dir);
    return dir;
}

void WriteScratchFile(const QString& path, const Text& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
}
