#pragma once
// The steps of start-up that the window and the console share.
#include <QStringList>
#include <optional>

struct StartOptions {
    bool quiet = false;   // "/QUIET": no window unless updates are found
    int typeOption = 0;   // "/TYPE" as a number, 0 when absent
};

StartOptions ReadStartOptions(const QStringList& arguments);

// Finds the BBS main directory through "SYSPATHS.CFG" in the working
// directory and writes this program's version into the version record.
// Nothing when the BBS is not there: the program then ends silently.
std::optional<QString> PrepareInstallation(const QString& workDir);

// The update type: the option, else the BBS's setting, else 3.
int ResolveUpdateType(const StartOptions& options, const QString& mainDir);
