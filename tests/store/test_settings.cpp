#include "server/store/Settings.h"
#include "server/store/Statistics.h"

#include <gtest/gtest.h>
#include <QtEndian>

namespace {
int16_t I16(const Text& b, int o) { return qFromLittleEndian<int16_t>(b.constData() + o); }
int32_t I32(const Text& b, int o) { return qFromLittleEndian<int32_t>(b.constData() + o); }
}   // namespace

TEST(SettingsRecord, NewFileDefaultsAtTheirOffsets) {
    const Text b = EncodeSettings(SettingsRecord{});
    ASSERT_EQ(b.size(), 250);
    EXPECT_EQ(I16(b, 0), 25);
    EXPECT_EQ(I16(b, 2), 10);
    EXPECT_EQ(I32(b, 8), 2097152);
    EXPECT_EQ(b.mid(14, 6), "000000");
    EXPECT_EQ(b.mid(26, 30), Text(30, ' '));
    EXPECT_EQ(I16(b, 210), 1);     // SmtpClient
    EXPECT_EQ(I16(b, 224), 110);   // Pop3Port
    EXPECT_EQ(I16(b, 228), 1);     // AllowVrfy
    EXPECT_EQ(I32(b, 232), 1);     // AutorespondUser
    EXPECT_EQ(I32(b, 238), 2097152);
    EXPECT_EQ(I32(b, 242), 2097152);
    EXPECT_EQ(I16(b, 248), 0);
}

TEST(SettingsRecord, RoundTripCutsLongTexts) {
    SettingsRecord r;
    r.ClientHost = Text(40, 'h');
    r.Pop3Password = "secret";
    r.MaxMailSize = 123456;
    r.CloseToTaskbar = 1;
    SettingsRecord back;
    DecodeSettings(EncodeSettings(r), back);
    EXPECT_EQ(back.ClientHost, Text(30, 'h'));
    EXPECT_EQ(back.Pop3Password, "secret");
    EXPECT_EQ(back.MaxMailSize, 123456);
    EXPECT_EQ(back.CloseToTaskbar, 1);
}

TEST(SettingsRecord, UpgradeByFileLength) {
    SettingsRecord stored;
    stored.SmtpClient = 1;
    stored.RelayEnable = 1;
    stored.AllowVrfy = 0;
    const Text full = EncodeSettings(stored);

    SettingsRecord r;
    DecodeSettings(full.left(210), r);
    UpgradeSettings(r, 210);
    EXPECT_EQ(r.SmtpClient, 0);   // an upgraded file does not start sending
    EXPECT_EQ(r.AllowVrfy, 1);

    SettingsRecord s;
    DecodeSettings(full.left(221), s);
    UpgradeSettings(s, 221);
    EXPECT_EQ(s.SmtpClient, 1);
    EXPECT_EQ(s.RelayEnable, 0);   // its last byte is missing

    SettingsRecord t;
    DecodeSettings(full, t);
    UpgradeSettings(t, 250);
    EXPECT_EQ(t.AllowVrfy, 0);
    EXPECT_EQ(t.RelayEnable, 1);
}

TEST(SettingsRecord, RangeChecks) {
    SettingsRecord r;
    r.MaxLogSize = -5;
    r.MaxConnections = 0;
    r.MaxMailSize = 16777216;
    r.MaxFreqSize = 0;
    r.Port = 0;
    r.AutorespondUser = -3;
    ApplyRangeChecks(r);
    EXPECT_EQ(r.MaxLogSize, 1048576);
    EXPECT_EQ(r.MaxConnections, 1);
    EXPECT_EQ(r.MaxMailSize, 10485760);
    EXPECT_EQ(r.MaxFreqSize, 2097152);
    EXPECT_EQ(r.Port, 25);
    EXPECT_EQ(r.AutorespondUser, 1);
    r.MaxLogSize = 500;
    r.MaxConnections = 500;
    ApplyRangeChecks(r);
    EXPECT_EQ(r.MaxLogSize, 1024);
    EXPECT_EQ(r.MaxConnections, 200);
    r.MaxLogSize = 0;
    ApplyRangeChecks(r);
    EXPECT_EQ(r.MaxLogSize, 0);
}

TEST(WindowRecord, TwelveBytesLittleEndian) {
    const Text b = EncodeWindow({-300, 7065, 1, 1});
    ASSERT_EQ(b.size(), 12);
    EXPECT_EQ(I32(b, 0), -300);
    EXPECT_EQ(I32(b, 4), 7065);
    EXPECT_EQ(I16(b, 8), 1);
    EXPECT_EQ(I16(b, 10), 1);
    const WindowRecord w = DecodeWindow(b);
    EXPECT_EQ(w.WindowLeft, 7065);
}

TEST(StatsRecord, OddFieldOrder) {
    Statistics s;
    s.TotalConnections = 1;
    s.TotalIncoming = 2;
    s.TotalOutgoing = 3;
    s.TotalReceived = 4;
    s.KBReceived = 5.5f;
    s.TotalSent = 6;
    s.KBSent = 7.25f;
    s.BlockedIps = 8;
    s.BlockedRelays = 9;
    s.BlockedHeaders = 10;
    s.BlockedSubjects = 11;
    const Text b = EncodeStats(s);
    ASSERT_EQ(b.size(), 44);
    EXPECT_EQ(I32(b, 20), 6);
    EXPECT_EQ(I32(b, 36), 10);
    EXPECT_EQ(I32(b, 40), 11);
    Statistics back;
    DecodeStats(b, back);
    EXPECT_FLOAT_EQ(back.KBSent, 7.25f);
    EXPECT_EQ(back.BlockedSubjects, 11);
}

TEST(FormatKB, Boundaries) {
    EXPECT_EQ(FormatKB(0.5f), "0.5KB");
    EXPECT_EQ(FormatKB(0), "0KB");
    EXPECT_EQ(FormatKB(1000), "1000KB");
    EXPECT_EQ(FormatKB(1001), "0.98MB");
    EXPECT_EQ(FormatKB(1000000), "976.56MB");
    EXPECT_EQ(FormatKB(1000001), "0.95GB");
    EXPECT_EQ(FormatKB(2560), "2.5MB");
    // Halves go to the even digit.
    EXPECT_EQ(FormatKB(0.25f), "0.2KB");
    EXPECT_EQ(FormatKB(0.75f), "0.8KB");
    EXPECT_EQ(FormatKB(1152), "1.12MB");   // 1.125
    EXPECT_EQ(FormatKB(1153), "1.13MB");
    EXPECT_EQ(FormatKB(999.96f), "1000KB");
    EXPECT_EQ(FormatKB(1024.0f * 1024 * 3), "3GB");
}
