#pragma once
// The process-wide records the server's parts work with, passed by reference.
#include "server/bbs/BbsConfig.h"
#include "server/store/EventLog.h"
#include "server/store/RunState.h"
#include "server/store/Settings.h"
#include "server/store/Statistics.h"

struct ServerContext {
    SettingsRecord& settings;
    BbsConfig& bbs;
    Statistics& stats;
    EventLog& log;
    RunState& run;

    QString KeyedList() const { return KeyedListPath(bbs.MainDir()); }
};
