#pragma once
// The single-value settings kept in the keyed list file "OSPRDATA.DAT" beside
// the server's lists, with the value shown when a key is absent and the check
// a typed value passes. osprinectl and the settings dialog both read this
// table, so a row added here is printed, set and edited everywhere.
#include <QList>
#include <QString>
#include <functional>
#include "server/store/Text.h"

// Keys of the TLS settings (read by server/net/Tls).
inline constexpr const char* kClientTlsKey = "clienttls";
inline constexpr const char* kClientTlsCaKey = "clienttlsca";
inline constexpr const char* kPop3TlsKey = "pop3tls";
inline constexpr const char* kServerTlsCertKey = "servertlscert";
inline constexpr const char* kServerTlsKeyKey = "servertlskey";

// Keys of DKIM signing (read by server/outbound/OutboundSigning).
inline constexpr const char* kDkimDomainKey = "dkimdomain";
inline constexpr const char* kDkimSelectorKey = "dkimselector";
inline constexpr const char* kDkimKeyFileKey = "dkimkey";

struct KeyedSetting {
    const char* key;
    Text shownWhenAbsent;
    // Checks and normalises a typed value; false with the reason.
    std::function<bool(Text& value, Text& why)> accept;
    // One line for the settings dialog and osprinectl's help.
    const char* description = "";
};

// The checks shared by several rows.
bool AcceptTlsMode(Text& value, Text& why);    // auto, starttls, implicit or none
bool AcceptFileName(Text& value, Text& why);   // empty, or an existing file
bool AcceptCount(Text& value, Text& why);      // 0 to 10000
bool AcceptSwitch(Text& value, Text& why);     // 0 or 1
bool AcceptDnsName(Text& value, Text& why);    // empty, or a name of DNS labels

// Whether `name` is DNS labels (letters, digits and "-" inside) joined by ".".
bool IsDnsName(const Text& name);

// Every keyed setting, in the order they are printed and shown.
const QList<KeyedSetting>& KeyedSettings();
const KeyedSetting* FindKeyedSetting(const Text& name);   // any letter case

// The setting's stored value, or its shown-when-absent value.
Text KeyedSettingValue(const KeyedSetting& k, const QString& keyedList);
