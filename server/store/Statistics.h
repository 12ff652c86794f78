#pragma once
// The twelve traffic counters and their file "OSPRSTAT.DAT" (44 bytes).
#include "server/store/Text.h"
#include <QString>
#include <functional>

struct Statistics {
    int32_t ActiveConnections = 0;
    int32_t TotalConnections = 0;
    int32_t TotalIncoming = 0;
    int32_t TotalOutgoing = 0;
    int32_t TotalReceived = 0;
    int32_t TotalSent = 0;
    float KBReceived = 0;
    float KBSent = 0;
    int32_t BlockedIps = 0;
    int32_t BlockedRelays = 0;
    int32_t BlockedSubjects = 0;
    int32_t BlockedHeaders = 0;

    // Set by the shell: recomputes ActiveConnections, refreshes the display
    // and the file. Every part that changes a counter calls UpdateStats().
    std::function<void()> onUpdate;
    void UpdateStats() const { if (onUpdate) onUpdate(); }
};

inline constexpr int kStatsRecordSize = 44;
Text EncodeStats(const Statistics& s);
void DecodeStats(const Text& bytes, Statistics& s);   // needs 44 bytes, else nothing changes
QString StatsPath(const QString& mainDir);
// "0.5KB", "0.98MB", "0.95GB".
Text FormatKB(float kb);
