#pragma once
// Shared pieces of the fuzz targets: the input cut into parts, and one test
// installation of the BBS for the targets that need files behind them.
#include "server/bbs/ServerContext.h"
#include "tools/testbbs/TestBbs.h"

#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

// The input cut at each "\0\xff" into at most `count` parts (the last one
// keeps the rest); missing parts are empty. Separators the fuzzer learns
// quickly, while single NUL bytes stay ordinary input.
TextList FuzzParts(const uint8_t* data, size_t size, int count);

// Writes a whole file (replacing it) or aborts the run.
void WriteScratchFile(const QString& path, const Text& bytes);

// A test installation in a temporary directory, created on first use and
// made the current directory, so error logs land inside it too.
class FuzzInstall {
public:
    static FuzzInstall& Get();

    // Removes what one input left behind (hand-off files, queue files, grown
    // e-mail base), so a long run neither fills the disk nor slows down.
    void ResetOutputs();
    // A scratch directory inside the installation for the files a target writes.
    QString Scratch();

    TestBbsLayout layout;
    SettingsRecord settings;
    BbsConfig bbs;
    Statistics stats;
    RunState run;
    EventLog log;
    ServerContext ctx{settings, bbs, stats, log, run};

private:
    FuzzInstall();
    QTemporaryDir dir_;
};
