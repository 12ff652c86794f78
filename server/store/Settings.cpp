#include "server/store/Settings.h"

#include "server/store/Files.h"

#include <QtEndian>
#include <variant>

const char* const kDefaultRelayDb =
    "zen.spamhaus.org;bl.spamcop.net;b.barracudacentral.org;psbl.surriel.com;bl.mailspike.net";

namespace {
using Int16Field = int16_t SettingsRecord::*;
using Int32Field = int32_t SettingsRecord::*;
struct TextField {
    Text SettingsRecord::*member;
    int width;
};

// One row of the record: where the field lies, and the value an older,
// shorter file gives it.
struct FieldSpec {
    int offset;
    std::variant<Int16Field, Int32Field, TextField> field;
    std::variant<int32_t, const char*> upgradeValue;
};

int Width(const FieldSpec& f) {
    if (std::holds_alternative<Int16Field>(f.field)) return 2;
    if (std::holds_alternative<Int32Field>(f.field)) return 4;
    return std::get<TextField>(f.field).width;
}

const FieldSpec kFields[] = {
    {0, &SettingsRecord::Port, 25},
    {2, &SettingsRecord::MaxConnections, 10},
    {4, &SettingsRecord::MinToTray, 1},
    {6, &SettingsRecord::ShowEventWindow, 1},
    {8, &SettingsRecord::MaxLogSize, 2097152},
    {12, &SettingsRecord::DailyMaint, 0},
    {14, TextField{&SettingsRecord::LastMaintDate, 6}, "000000"},
    {20, &SettingsRecord::VerifyUser, 1},
    {22, &SettingsRecord::AutoVerify, 1},
    {24, &SettingsRecord::ClientPort, 25},
    {26, TextField{&SettingsRecord::ClientHost, 30}, ""},
    {56, &SettingsRecord::ClientAuth, 0},
    {58, TextField{&SettingsRecord::AuthUsername, 30}, ""},
    {88, TextField{&SettingsRecord::AuthPassword, 30}, ""},
    {118, &SettingsRecord::Pop3Before, 0},
    {120, TextField{&SettingsRecord::Pop3Host, 30}, ""},
    {150, TextField{&SettingsRecord::Pop3Username, 30}, ""},
    {180, TextField{&SettingsRecord::Pop3Password, 30}, ""},
    {210, &SettingsRecord::SmtpClient, 0},   // an upgraded file does not start sending on its own
    {212, &SettingsRecord::EmailUserNumber, 0},
    {214, &SettingsRecord::SaveWindowPos, 0},
    {216, &SettingsRecord::IpAllowOnly, 0},
    {218, &SettingsRecord::CheckFlags, 0},
    {220, &SettingsRecord::RelayEnable, 0},
    {222, &SettingsRecord::SpamAssassin, 0},
    {224, &SettingsRecord::Pop3Port, 110},
    {226, &SettingsRecord::AllowCarbonCopy, 0},
    {228, &SettingsRecord::AllowVrfy, 1},
    {230, &SettingsRecord::AllowExpn, 0},
    {232, &SettingsRecord::AutorespondUser, 1},
    {236, &SettingsRecord::AllowFreq, 0},
    {238, &SettingsRecord::MaxFreqSize, 2097152},
    {242, &SettingsRecord::MaxMailSize, 2097152},
    {246, &SettingsRecord::SaveStats, 0},
    {248, &SettingsRecord::CloseToTaskbar, 0},
};

template <typename T>
void PutInt(Text& bytes, int offset, T value) {
    qToLittleEndian(value, bytes.data() + offset);
}
template <typename T>
T GetInt(const Text& bytes, int offset) {
    return qFromLittleEndian<T>(bytes.constData() + offset);
}
}   // namespace

Text EncodeSettings(const SettingsRecord& r) {
    Text bytes(kSettingsRecordSize, ' ');
    for (const FieldSpec& f : kFields) {
        if (auto p = std::get_if<Int16Field>(&f.field))
            PutInt<int16_t>(bytes, f.offset, r.**p);
        else if (auto q = std::get_if<Int32Field>(&f.field))
            PutInt<int32_t>(bytes, f.offset, r.**q);
        else {
            const TextField& t = std::get<TextField>(f.field);
            bytes.replace(f.offset, t.width, StrPad(r.*t.member, t.width));
        }
    }
    return bytes;
}

void DecodeSettings(const Text& bytes, SettingsRecord& r) {
    for (const FieldSpec& f : kFields) {
        if (f.offset + Width(f) > bytes.size()) break;
        if (auto p = std::get_if<Int16Field>(&f.field))
            r.** p = GetInt<int16_t>(bytes, f.offset);
        else if (auto q = std::get_if<Int32Field>(&f.field))
            r.** q = GetInt<int32_t>(bytes, f.offset);
        else {
            const TextField& t = std::get<TextField>(f.field);
            r.*t.member = Trim(bytes.mid(f.offset, t.width));
        }
    }
}

void UpgradeSettings(SettingsRecord& r, qint64 fileLength) {
    for (const FieldSpec& f : kFields) {
        if (fileLength >= f.offset + Width(f)) continue;
        if (auto p = std::get_if<Int16Field>(&f.field))
            r.** p = int16_t(std::get<int32_t>(f.upgradeValue));
        else if (auto q = std::get_if<Int32Field>(&f.field))
            r.** q = std::get<int32_t>(f.upgradeValue);
        else
            r.*std::get<TextField>(f.field).member = std::get<const char*>(f.upgradeValue);
    }
}

void ApplyDialogChecks(SettingsRecord& r) {
    if (r.Port < 1) r.Port = 25;
    if (r.ClientPort < 1) r.ClientPort = 25;
    if (r.Pop3Port < 1) r.Pop3Port = 110;
    if (r.MaxConnections < 1) r.MaxConnections = 1;
    if (r.MaxConnections > 200) r.MaxConnections = 200;
    if (r.AutorespondUser < 1) r.AutorespondUser = 1;
}

// The loader checks what the dialog checks, and the sizes besides.
void ApplyRangeChecks(SettingsRecord& r) {
    ApplyDialogChecks(r);
    if (r.MaxLogSize < 0)
        r.MaxLogSize = 1048576;
    else if (r.MaxLogSize >= 1 && r.MaxLogSize <= 1023)
        r.MaxLogSize = 1024;
    for (int32_t* size : {&r.MaxFreqSize, &r.MaxMailSize}) {
        if (*size <= 0)
            *size = 2097152;
        else if (*size > 10485760)
            *size = 10485760;
    }
}

Text EncodeWindow(const WindowRecord& w) {
    Text bytes(kWindowRecordSize, '\0');
    PutInt<int32_t>(bytes, 0, w.WindowTop);
    PutInt<int32_t>(bytes, 4, w.WindowLeft);
    PutInt<int16_t>(bytes, 8, w.WindowMinimized);
    PutInt<int16_t>(bytes, 10, w.WindowShrunk);
    return bytes;
}

WindowRecord DecodeWindow(const Text& bytes) {
    WindowRecord w;
    if (bytes.size() < kWindowRecordSize) return w;
    w.WindowTop = GetInt<int32_t>(bytes, 0);
    w.WindowLeft = GetInt<int32_t>(bytes, 4);
    w.WindowMinimized = GetInt<int16_t>(bytes, 8);
    w.WindowShrunk = GetInt<int16_t>(bytes, 10);
    return w;
}

QString SettingsPath(const QString& mainDir) { return PathJoin(mainDir, "OSPRINE.CFG"); }
QString WindowPath(const QString& mainDir) { return PathJoin(mainDir, "OSPRINE.DAT"); }
QString KeyedListPath(const QString& mainDir) { return PathJoin(mainDir, "OSPRDATA.DAT"); }

bool WriteSettingsFile(const QString& mainDir, const SettingsRecord& r) {
    return WriteSecretFileAtomic(SettingsPath(mainDir), EncodeSettings(r));
}
