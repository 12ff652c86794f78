#include "server/store/KeyedSettings.h"
#include <QFileInfo>
#include <QRegularExpression>
#include "server/store/KeyedList.h"

bool AcceptTlsMode(Text& value, Text& why) {
    const Text v = Trim(value).toLower();
    if (v != "auto" && v != "starttls" && v != "implicit" && v != "none") {
        why = "must be auto, starttls, implicit or none";
        return false;
    }
    value = v;
    return true;
}

bool AcceptFileName(Text& value, Text& why) {
    value = Trim(value);
    if (value.contains('\r') || value.contains('\n') || value.contains('\0')) {
        why = "holds a line break";
        return false;
    }
    if (!value.isEmpty() && !QFileInfo(QString::fromLocal8Bit(value)).isFile()) {
        why = "no such file: " + value;
        return false;
    }
    return true;
}

bool AcceptCount(Text& value, Text& why) {
    value = Trim(value);
    if (!IsNumeric(value) || value.startsWith('-') || value.toLongLong() > 10000) {
        why = "must be a whole number from 0 to 10000 (0: no limit)";
        return false;
    }
    value = NumText(value.toLongLong());
    return true;
}

bool IsDnsName(const Text& name) {
    static const QRegularExpression label("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$");
    if (name.isEmpty() || name.size() > 253) return false;
    for (const Text& part : name.split('.'))
        if (!label.match(QString::fromLatin1(part)).hasMatch()) return false;
    return true;
}

bool AcceptDnsName(Text& value, Text& why) {
    value = Trim(value);
    if (!value.isEmpty() && !IsDnsName(value)) {
        why = "must be letters, digits and \"-\" in parts joined by \".\"";
        return false;
    }
    return true;
}

bool AcceptSwitch(Text& value, Text& why) {
    value = Trim(value);
    if (value != "0" && value != "1") {
        why = "must be 0 or 1";
        return false;
    }
    return true;
}

namespace {
bool AcceptAnswerCount(Text& value, Text& why) {
    if (AcceptCount(value, why)) return true;
    why = "must be a whole number from 0 to 10000 (0: no answers)";
    return false;
}
}   // namespace

const QList<KeyedSetting>& KeyedSettings() {
    static const QList<KeyedSetting> settings{
        {kClientTlsKey, "auto", AcceptTlsMode, "TLS to the upstream server: auto, starttls, implicit or none"},
        {kClientTlsCaKey, "", AcceptFileName, "Further CA certificates to trust upstream (PEM file)"},
        {kPop3TlsKey, "auto", AcceptTlsMode, "TLS for the POP3 log-in: auto, starttls, implicit or none"},
        {kServerTlsCertKey, "", AcceptFileName, "Certificate offered with STARTTLS (PEM file, chain included)"},
        {kServerTlsKeyKey, "", AcceptFileName, "Private key of that certificate (PEM file)"},
        {"maxperip", "3", AcceptCount, "Sessions one client address may hold (0: no limit)"},
        {"acceptrate", "1", AcceptCount, "New sessions admitted per second (0: no limit)"},
        {"esmtp", "0", AcceptSwitch, "1: EHLO offers SIZE, 8BITMIME and PIPELINING (0: the one-line reply)"},
        {"freqperhour", "30", AcceptAnswerCount, "File-request answers an hour to all addresses (0: none)"},
        {kDkimDomainKey, "", AcceptDnsName, "Domain that signs outbound mail with DKIM (d=)"},
        {kDkimSelectorKey, "", AcceptDnsName, "Selector of the DKIM key (s=)"},
        {kDkimKeyFileKey, "", AcceptFileName, "DKIM private key (PEM file: RSA of 2048 bits or more, or Ed25519)"},
        {"authcheck", "0", AcceptSwitch,
         "Check SPF, DKIM and DMARC of received mail, add Authentication-Results (1: on)"},
        {"dmarcreject", "0", AcceptSwitch, "Refuse mail that fails DMARC under a reject policy (1: on)"},
        {"spfreject", "0", AcceptSwitch, "Refuse mail that fails SPF, and mail forging the BBS's domains (1: on)"},
    };
    return settings;
}

const KeyedSetting* FindKeyedSetting(const Text& name) {
    for (const KeyedSetting& k : KeyedSettings())
        if (qstricmp(k.key, name.constData()) == 0) return &k;
    return nullptr;
}

Text KeyedSettingValue(const KeyedSetting& k, const QString& keyedList) {
    const Text value = Trim(GetData(k.key, keyedList));
    return value.isEmpty() ? k.shownWhenAbsent : value;
}
