#include "osprinectl/ConfigCommand.h"
#include "osprinectl/Output.h"
#include "server/net/Tls.h"
#include "server/store/KeyedList.h"
#include "server/store/SettingsFields.h"
#include <QFileInfo>
#include <functional>

const char* const kConfigHelp =
    "Usage: osprinectl [-d DIR] config [--show-secrets] [NAME ...]\n"
    "       osprinectl [-d DIR] config NAME=VALUE ...\n"
    "Without names, prints every setting as \"Name = value\": first those of OSPRINE.CFG in the\n"
    "record's order, then those kept in OSPRDATA.DAT. With names, prints those. With\n"
    "NAME=VALUE pairs, sets them with the settings dialog's conversions and checks, all or\n"
    "none; a refused value is named on standard error and nothing changes (exit status 2).\n"
    "Passwords print as ******** unless --show-secrets is given.\n";

namespace {

// A setting of the keyed list that holds one value.
struct KeyedSetting {
    const char* key;
    Text shownWhenAbsent;
    // Checks and normalises a typed value; false with the reason.
    std::function<bool(Text& value, Text& why)> accept;
};

bool AcceptMode(Text& value, Text& why) {
    const Text v = Trim(value).toLower();
    if (v != "auto" && v != "starttls" && v != "implicit" && v != "none") {
        why = "must be auto, starttls, implicit or none";
        return false;
    }
    value = v;
    return true;
}

bool AcceptFile(Text& value, Text& why) {
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

const QList<KeyedSetting>& KeyedSettings() {
    static const QList<KeyedSetting> settings{
        {TlsSettings::kClientKey, "auto", AcceptMode},       {TlsSettings::kClientCaKey, "", AcceptFile},
        {TlsSettings::kPop3Key, "auto", AcceptMode},         {TlsSettings::kServerCertKey, "", AcceptFile},
        {TlsSettings::kServerKeyKey, "", AcceptFile},        {"maxperip", "3", AcceptCount},
    };
    return settings;
}

const KeyedSetting* FindKeyed(const Text& name) {
    for (const KeyedSetting& k : KeyedSettings())
        if (qstricmp(k.key, name.constData()) == 0) return &k;
    return nullptr;
}

Text Shown(const SettingsRecord& r, const SettingsField& f, bool showSecrets) {
    const Text value = SettingsFieldText(r, f);
    return f.secret && !showSecrets && !value.isEmpty() ? Text("********") : value;
}

Text KeyedValue(const Installation& inst, const KeyedSetting& k) {
    const Text value = Trim(GetData(k.key, inst.KeyedList()));
    return value.isEmpty() ? k.shownWhenAbsent : value;
}

int Print(const Installation& inst, const QStringList& names, bool showSecrets) {
    const SettingsRecord r = inst.LoadSettings();
    if (names.isEmpty()) {
        for (const SettingsField& f : SettingsFields()) ctl::Out(Text(f.name) + " = " + Shown(r, f, showSecrets));
        for (const KeyedSetting& k : KeyedSettings()) ctl::Out(Text(k.key) + " = " + KeyedValue(inst, k));
        return ctl::kOk;
    }
    TextList lines;
    for (const QString& name : names) {
        const Text n = name.toLocal8Bit();
        if (const SettingsField* f = FindSettingsField(n)) lines << Text(f->name) + " = " + Shown(r, *f, showSecrets);
        else if (const KeyedSetting* k = FindKeyed(n)) lines << Text(k->key) + " = " + KeyedValue(inst, *k);
        else return ctl::Fail(ctl::kUsage, n + ": no such setting");
    }
    for (const Text& line : lines) ctl::Out(line);
    return ctl::kOk;
}

int Set(const Installation& inst, const QStringList& pairs) {
    SettingsRecord r = inst.LoadSettings();
    QList<std::pair<const KeyedSetting*, Text>> keyed;
    QList<const SettingsField*> changed;
    for (const QString& pair : pairs) {
        const Text p = pair.toLocal8Bit();
        const qsizetype eq = p.indexOf('=');
        const Text name = Trim(p.left(eq));
        Text value = p.mid(eq + 1);
        Text why;
        if (const SettingsField* f = FindSettingsField(name)) {
            if (!SetSettingsField(r, *f, value, why)) return ctl::Fail(ctl::kUsage, Text(f->name) + ": " + why);
            changed << f;
        } else if (const KeyedSetting* k = FindKeyed(name)) {
            if (!k->accept(value, why)) return ctl::Fail(ctl::kUsage, Text(k->key) + ": " + why);
            keyed.append({k, value});
        } else {
            return ctl::Fail(ctl::kUsage, name + ": no such setting");
        }
    }
    if (!changed.isEmpty()) {
        ApplyDialogChecks(r);
        if (!WriteSettingsFile(inst.MainDir(), r))
            return ctl::Fail(ctl::kUsage, "cannot write " + SettingsPath(inst.MainDir()).toLocal8Bit());
    }
    for (const auto& [k, value] : keyed) PutData(k->key, value, inst.KeyedList());
    // What is stored now, after the dialog's checks.
    for (const SettingsField* f : changed) ctl::Out(Text(f->name) + " = " + Shown(r, *f, false));
    for (const auto& [k, value] : keyed) ctl::Out(Text(k->key) + " = " + KeyedValue(inst, *k));
    return ctl::kOk;
}

}  // namespace

int RunConfig(const Installation& inst, const QStringList& arguments, bool showSecrets) {
    qsizetype sets = 0;
    for (const QString& a : arguments) sets += a.contains('=') ? 1 : 0;
    if (sets == 0) return Print(inst, arguments, showSecrets);
    if (sets != arguments.size()) return ctl::Fail(ctl::kUsage, "either print settings or set them, not both");
    return Set(inst, arguments);
}
