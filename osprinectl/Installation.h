#pragma once
// The BBS installation osprinectl works on, found as the server finds it:
// SYSPATHS.CFG in the given directory names the main directory, which holds
// OSPRINE.CFG and OSPRDATA.DAT; NET.9 names the outbound queue.
#include <optional>
#include "server/bbs/BbsConfig.h"
#include "server/store/Settings.h"

struct Installation {
    QString dir;   // the directory osprinectl was pointed at (the server's working directory)
    BbsConfig bbs;
    bool netLoaded = false;   // NET.9 was read: the queue directory is known

    QString MainDir() const { return bbs.MainDir(); }
    QString KeyedList() const { return KeyedListPath(MainDir()); }
    // Each check below answers nothing when all is well, or why not.

    // Why `directory` holds no installation.
    std::optional<Text> Load(const QString& directory);
    // "cannot read FILE: reason" when the BBS's main configuration,
    // OSPRINE.CFG or OSPRDATA.DAT exists but cannot be read: nothing is then
    // printed from defaults.
    std::optional<Text> FilesReadable() const;
    static std::optional<Text> Readable(const QString& file);
    // The settings as the server holds them after loading OSPRINE.CFG.
    SettingsRecord LoadSettings() const;
    // The refusal, naming it, when a file osprinectl may write is a symbolic
    // link: such a file is never written through.
    std::optional<Text> RefuseLinks() const;
};
