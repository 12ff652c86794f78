#include "server/store/SettingsFields.h"
#include <QRegularExpression>

namespace {
using K = SettingsField::Kind;
using R = SettingsRecord;

SettingsField Small(const char* name, int16_t R::*f, bool digitsOnly = false) {
    return {name, K::Small, f, nullptr, nullptr, digitsOnly};
}
SettingsField Large(const char* name, int32_t R::*f, bool digitsOnly = false) {
    return {name, K::Large, nullptr, f, nullptr, digitsOnly};
}
SettingsField Flag(const char* name, int16_t R::*f) { return {name, K::Flag, f}; }
SettingsField Txt(const char* name, Text R::*f, bool secret = false) {
    return {name, K::Text, nullptr, nullptr, f, false, secret};
}

QList<SettingsField> Build() {
    SettingsField lastMaint = Txt("LastMaintDate", &R::LastMaintDate);
    lastMaint.readOnly = true;
    return {
        Small("Port", &R::Port, true),
        Small("MaxConnections", &R::MaxConnections, true),
        Flag("MinToTray", &R::MinToTray),
        Flag("ShowEventWindow", &R::ShowEventWindow),
        Large("MaxLogSize", &R::MaxLogSize, true),
        Flag("DailyMaint", &R::DailyMaint),
        lastMaint,
        Flag("VerifyUser", &R::VerifyUser),
        Flag("AutoVerify", &R::AutoVerify),
        Small("ClientPort", &R::ClientPort),
        Txt("ClientHost", &R::ClientHost),
        Flag("ClientAuth", &R::ClientAuth),
        Txt("AuthUsername", &R::AuthUsername),
        Txt("AuthPassword", &R::AuthPassword, true),
        Flag("Pop3Before", &R::Pop3Before),
        Txt("Pop3Host", &R::Pop3Host),
        Txt("Pop3Username", &R::Pop3Username),
        Txt("Pop3Password", &R::Pop3Password, true),
        Flag("SmtpClient", &R::SmtpClient),
        Flag("EmailUserNumber", &R::EmailUserNumber),
        Flag("SaveWindowPos", &R::SaveWindowPos),
        Flag("IpAllowOnly", &R::IpAllowOnly),
        Flag("CheckFlags", &R::CheckFlags),
        Flag("RelayEnable", &R::RelayEnable),
        Flag("SpamAssassin", &R::SpamAssassin),
        Small("Pop3Port", &R::Pop3Port),
        Flag("AllowCarbonCopy", &R::AllowCarbonCopy),
        Flag("AllowVrfy", &R::AllowVrfy),
        Flag("AllowExpn", &R::AllowExpn),
        Large("AutorespondUser", &R::AutorespondUser, true),
        Flag("AllowFreq", &R::AllowFreq),
        Large("MaxFreqSize", &R::MaxFreqSize, true),
        Large("MaxMailSize", &R::MaxMailSize),
        Flag("SaveStats", &R::SaveStats),
        Flag("CloseToTaskbar", &R::CloseToTaskbar),
    };
}

// A number as a person types it: digits, perhaps a sign and a fraction.
bool LooksNumeric(const Text& t, bool digitsOnly) {
    static const QRegularExpression any("^[+-]?\\d+(\\.\\d*)?$");
    static const QRegularExpression digits("^\\d+$");
    return (digitsOnly ? digits : any).match(QString::fromLatin1(t)).hasMatch();
}
}   // namespace

const QList<SettingsField>& SettingsFields() {
    static const QList<SettingsField> fields = Build();
    return fields;
}

const SettingsField* FindSettingsField(const Text& name) {
    for (const SettingsField& f : SettingsFields())
        if (qstricmp(f.name, name.constData()) == 0) return &f;
    return nullptr;
}

Text SettingsFieldText(const SettingsRecord& r, const SettingsField& f) {
    switch (f.kind) {
    case K::Small:
    case K::Flag:
        return NumText(r.*f.small);
    case K::Large:
        return NumText(r.*f.large);
    case K::Text:
        break;
    }
    return Trim(r.*f.text);
}

bool SetSettingsField(SettingsRecord& r, const SettingsField& f, const Text& typed, Text& why) {
    const Text t = Trim(typed);
    if (f.readOnly) {
        why = "kept by the server, not set by hand";
        return false;
    }
    switch (f.kind) {
    case K::Flag:
        if (t != "0" && t != "1") {
            why = "must be 0 or 1";
            return false;
        }
        r.*f.small = int16_t(t.toInt());
        return true;
    case K::Small:
    case K::Large: {
        const double limit = f.kind == K::Small ? 32767.0 : 2147483647.0;
        if (!LooksNumeric(t, f.digitsOnly) || std::abs(t.toDouble()) > limit) {
            why = f.digitsOnly ? "must be a whole number from 0 to " + NumText(qint64(limit))
                               : "must be a number from -" + NumText(qint64(limit)) + " to " + NumText(qint64(limit));
            return false;
        }
        if (f.kind == K::Small)
            r.*f.small = ValInteger(t);
        else
            r.*f.large = ValLong(t);
        return true;
    }
    case K::Text:
        break;
    }
    if (t.size() > kSettingsTextWidth) {
        why = "longer than " + NumText(kSettingsTextWidth) + " characters";
        return false;
    }
    for (char c : t)
        if (uchar(c) < 0x20) {
            why = "holds a control character";
            return false;
        }
    r.*f.text = t;
    return true;
}
