#pragma once
// The process-wide records the server's parts work with. Constness carries
// through: a part handed a const ServerContext& reads the settings, the BBS's
// configuration, the counters and the lifecycle values and changes none of
// them. The event log is every part's output, const or not.
#include "server/bbs/BbsConfig.h"
#include "server/store/EventLog.h"
#include "server/store/RunState.h"
#include "server/store/Settings.h"
#include "server/store/Statistics.h"

class ServerContext {
public:
    ServerContext(SettingsRecord& settings, BbsConfig& bbs, Statistics& stats, EventLog& log, RunState& run)
        : settings_(&settings), bbs_(&bbs), stats_(&stats), log_(&log), run_(&run) {}
    // A copy gives the access of what it was copied from: none from a const one.
    ServerContext(ServerContext& other) = default;
    ServerContext(const ServerContext&) = delete;
    ServerContext& operator=(const ServerContext&) = delete;

    const SettingsRecord& Settings() const { return *settings_; }
    SettingsRecord& Settings() { return *settings_; }
    const BbsConfig& Bbs() const { return *bbs_; }
    BbsConfig& Bbs() { return *bbs_; }
    const Statistics& Stats() const { return *stats_; }
    Statistics& Stats() { return *stats_; }
    const RunState& Run() const { return *run_; }
    RunState& Run() { return *run_; }
    EventLog& Log() const { return *log_; }

    QString KeyedList() const { return KeyedListPath(bbs_->MainDir()); }

private:
    SettingsRecord* settings_;
    BbsConfig* bbs_;
    Statistics* stats_;
    EventLog* log_;
    RunState* run_;
};
