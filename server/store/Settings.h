#pragma once
// The settings record "OSPRINE.CFG" (250 bytes) and the window record
// "OSPRINE.DAT" (12 bytes): layouts, defaults, upgrade and range rules.
#include <QString>
#include <cstdint>
#include "server/store/Text.h"

struct SettingsRecord {
    int16_t Port = 25;
    int16_t MaxConnections = 10;
    int16_t MinToTray = 1;
    int16_t ShowEventWindow = 1;
    int32_t MaxLogSize = 2097152;
    int16_t DailyMaint = 0;
    Text LastMaintDate = "000000";
    int16_t VerifyUser = 1;
    int16_t AutoVerify = 1;
    int16_t ClientPort = 25;
    Text ClientHost;
    int16_t ClientAuth = 0;
    Text AuthUsername;
    Text AuthPassword;
    int16_t Pop3Before = 0;
    Text Pop3Host;
    Text Pop3Username;
    Text Pop3Password;
    int16_t SmtpClient = 1;
    int16_t EmailUserNumber = 0;
    int16_t SaveWindowPos = 0;
    int16_t IpAllowOnly = 0;
    int16_t CheckFlags = 0;
    int16_t RelayEnable = 0;
    int16_t SpamAssassin = 0;
    int16_t Pop3Port = 110;
    int16_t AllowCarbonCopy = 0;
    int16_t AllowVrfy = 1;
    int16_t AllowExpn = 0;
    int32_t AutorespondUser = 1;
    int16_t AllowFreq = 0;
    int32_t MaxFreqSize = 2097152;
    int32_t MaxMailSize = 2097152;
    int16_t SaveStats = 0;
    int16_t CloseToTaskbar = 0;
};

// A 0/1 setting is on when it holds 1, and off with any other value: one
// meaning for every flag the server or a dialog reads.
inline bool On(int16_t flag) { return flag == 1; }

inline constexpr int kSettingsRecordSize = 250;
inline constexpr int kWindowRecordSize = 12;
inline constexpr int kSettingsRelayDbBelow = 222;   // shorter files get the default zones again

// The five default DNS block-list zones stored under "relaydb".
extern const char* const kDefaultRelayDb;

Text EncodeSettings(const SettingsRecord& r);
// Reads the leading fields that `bytes` holds completely; the others keep their value.
void DecodeSettings(const Text& bytes, SettingsRecord& r);
// Fields ending at or beyond `fileLength` take their upgrade values.
void UpgradeSettings(SettingsRecord& r, qint64 fileLength);
void ApplyRangeChecks(SettingsRecord& r);
// The part of them the settings dialog applies before it saves (it saves
// sizes as typed; the loader holds them within their limits).
void ApplyDialogChecks(SettingsRecord& r);

struct WindowRecord {
    int32_t WindowTop = 0;
    int32_t WindowLeft = 0;
    int16_t WindowMinimized = 0;
    int16_t WindowShrunk = 0;
};
Text EncodeWindow(const WindowRecord& w);
WindowRecord DecodeWindow(const Text& bytes);

// The settings file in `mainDir`: written whole through a temporary file.
QString SettingsPath(const QString& mainDir);
QString WindowPath(const QString& mainDir);
QString KeyedListPath(const QString& mainDir);
bool WriteSettingsFile(const QString& mainDir, const SettingsRecord& r);
