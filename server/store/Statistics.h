#pragma once
// The twelve traffic counters and their file "OSPRSTAT.DAT" (44 bytes).
#include <QString>
#include <functional>
#include "server/store/Text.h"

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
    // Refusals of abuse since the start, kept in memory only (the file's
    // layout is the BBS family's): sessions over the per-address limit,
    // sessions ended at their time limit, recipients past the hundredth,
    // messages refused as mail loops.
    int32_t RefusedPerAddress = 0;
    int32_t SessionTimeLimits = 0;
    int32_t TooManyRecipients = 0;
    int32_t TooManyHops = 0;

    // Set by the shell: marks the counters changed; the shell's one-second
    // tick then recomputes ActiveConnections and refreshes the display and
    // the file. Every part that changes a counter calls UpdateStats().
    std::function<void()> onUpdate;
    void UpdateStats() const {
        if (onUpdate) onUpdate();
    }
};

inline constexpr int kStatsRecordSize = 44;
Text EncodeStats(const Statistics& s);
void DecodeStats(const Text& bytes, Statistics& s);   // needs 44 bytes, else nothing changes
QString StatsPath(const QString& mainDir);
// "0.5KB", "0.98MB", "0.95GB".
Text FormatKB(float kb);
// Every counter as "Name: value", in the order the console prints them.
TextList CounterLines(const Statistics& s);
// "Refused: 2 per address, 1 time limit, 0 recipients, 0 loops", or "" when all are 0.
Text RefusalSummary(const Statistics& s);
