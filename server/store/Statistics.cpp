#include "server/store/Statistics.h"

#include "server/store/Files.h"

#include <QtEndian>
#include <cmath>
#include <cstring>

namespace {
void PutFloat(Text& bytes, int offset, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    qToLittleEndian(bits, bytes.data() + offset);
}
float GetFloat(const Text& bytes, int offset) {
    const uint32_t bits = qFromLittleEndian<uint32_t>(bytes.constData() + offset);
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}
}   // namespace

Text EncodeStats(const Statistics& s) {
    Text b(kStatsRecordSize, '\0');
    qToLittleEndian<int32_t>(s.TotalConnections, b.data() + 0);
    qToLittleEndian<int32_t>(s.TotalIncoming, b.data() + 4);
    qToLittleEndian<int32_t>(s.TotalOutgoing, b.data() + 8);
    qToLittleEndian<int32_t>(s.TotalReceived, b.data() + 12);
    PutFloat(b, 16, s.KBReceived);
    qToLittleEndian<int32_t>(s.TotalSent, b.data() + 20);
    PutFloat(b, 24, s.KBSent);
    qToLittleEndian<int32_t>(s.BlockedIps, b.data() + 28);
    qToLittleEndian<int32_t>(s.BlockedRelays, b.data() + 32);
    qToLittleEndian<int32_t>(s.BlockedHeaders, b.data() + 36);
    qToLittleEndian<int32_t>(s.BlockedSubjects, b.data() + 40);
    return b;
}

void DecodeStats(const Text& b, Statistics& s) {
    if (b.size() < kStatsRecordSize) return;
    auto i32 = [&](int o) { return qFromLittleEndian<int32_t>(b.constData() + o); };
    s.TotalConnections = i32(0);
    s.TotalIncoming = i32(4);
    s.TotalOutgoing = i32(8);
    s.TotalReceived = i32(12);
    s.KBReceived = GetFloat(b, 16);
    s.TotalSent = i32(20);
    s.KBSent = GetFloat(b, 24);
    s.BlockedIps = i32(28);
    s.BlockedRelays = i32(32);
    s.BlockedHeaders = i32(36);
    s.BlockedSubjects = i32(40);
}

Text RefusalSummary(const Statistics& s) {
    if (s.RefusedPerAddress == 0 && s.SessionTimeLimits == 0 && s.TooManyRecipients == 0 && s.TooManyHops == 0)
        return {};
    return "Refused: " + Text::number(s.RefusedPerAddress) + " per address, " + Text::number(s.SessionTimeLimits) +
           " time limit, " + Text::number(s.TooManyRecipients) + " recipients, " + Text::number(s.TooManyHops) +
           " loops";
}

QString StatsPath(const QString& mainDir) { return PathJoin(mainDir, "OSPRSTAT.DAT"); }

namespace {
// Rounds halves to the even digit, then writes the shortest form.
Text Shortest(double v, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::nearbyint(v * scale) / scale;
    Text t = Text::number(rounded, 'f', decimals);
    if (t.contains('.')) {
        while (t.endsWith('0')) t.chop(1);
        if (t.endsWith('.')) t.chop(1);
    }
    if (t.startsWith('.')) t.prepend('0');
    return t;
}
}   // namespace

Text FormatKB(float kb) {
    const double v = kb;
    if (v <= 1000) return Shortest(v, 1) + "KB";
    if (v <= 1000000) return Shortest(v / 1024, 2) + "MB";
    return Shortest(v / 1024 / 1024, 2) + "GB";
}

TextList CounterLines(const Statistics& s) {
    const auto n = [](int32_t v) { return Text::number(v); };
    return {"Active Connections: " + n(s.ActiveConnections),
            "Total Connections: " + n(s.TotalConnections),
            "Incoming: " + n(s.TotalIncoming),
            "Outgoing: " + n(s.TotalOutgoing),
            "Received: " + n(s.TotalReceived),
            "Sent: " + n(s.TotalSent),
            "KB Received: " + FormatKB(s.KBReceived),
            "KB Sent: " + FormatKB(s.KBSent),
            "Blocked IPs: " + n(s.BlockedIps),
            "Blocked Relays: " + n(s.BlockedRelays),
            "Blocked Subjects: " + n(s.BlockedSubjects),
            "Blocked Headers: " + n(s.BlockedHeaders),
            "Refused Per Address: " + n(s.RefusedPerAddress),
            "Session Time Limits: " + n(s.SessionTimeLimits),
            "Too Many Recipients: " + n(s.TooManyRecipients),
            "Too Many Hops: " + n(s.TooManyHops)};
}
