#include "osprinectl/ConfigCommand.h"
#include <QFileInfo>
#include <functional>
#include "osprinectl/Output.h"
#include "server/lists/InetNetwork.h"
#include "server/lists/LineFiles.h"
#include "server/store/KeyedList.h"
#include "server/store/KeyedSettings.h"
#include "server/store/SettingsFields.h"

const char* const kConfigHelp =
    "Usage: osprinectl [-d DIR] config [--show-secrets] [NAME ...]\n"
    "       osprinectl [-d DIR] config -n\n"
    "       osprinectl [-d DIR] config NAME=VALUE ...\n"
    "Without names, prints every setting as \"Name = value\": first those of OSPRINE.CFG in the\n"
    "record's order, then those kept in OSPRDATA.DAT, then the BBS's Internet network\n"
    "settings in NET.9 (net9.systemid, ...). With names, prints those. With\n"
    "NAME=VALUE pairs, sets them with the settings dialog's conversions and checks, all or\n"
    "none; a refused value is named on standard error and nothing changes (exit status 2).\n"
    "Passwords print as ******** unless --show-secrets is given. With -n, prints only the\n"
    "settings of OSPRINE.CFG and OSPRDATA.DAT that differ from a new installation's.\n";

namespace {

// The settings lines of NET.9 as the network dialog edits them.
struct NetSetting {
    const char* name;
    std::function<Text(const InetSettings&)> get;
    // Takes a typed value into the settings; false with the reason.
    std::function<bool(InetSettings&, const Text& value, Text& why)> set;
};

bool YesNo(const Text& value, bool& out, Text& why) {
    const Text v = Trim(value).toUpper();
    if (v != "Y" && v != "N") {
        why = "must be Y or N";
        return false;
    }
    out = v == "Y";
    return true;
}

const QList<NetSetting>& NetSettings() {
    static const int kPss[] = {64, 128, 256, 512, 1024, 2048};
    static const QList<NetSetting> settings{
        {"net9.systemid", [](const InetSettings& s) { return s.systemId; },
         [](InetSettings& s, const Text& v, Text& why) {
             s.systemId = NetValue(v);
             why = "the system id is needed";
             return !s.systemId.isEmpty();
         }},
        {"net9.netdir", [](const InetSettings& s) { return s.netDir; },
         [](InetSettings& s, const Text& v, Text& why) {
             why = "the spool directory must be a valid directory";
             s.netDir = Trim(v);
             return QFileInfo(QString::fromLocal8Bit(s.netDir)).isDir();
         }},
        {"net9.pss", [](const InetSettings& s) { return NumText(kPss[std::clamp(s.pssIndex, 0, 5)]); },
         [](InetSettings& s, const Text& v, Text& why) {
             for (int i = 0; i < 6; ++i)
                 if (Trim(v) == NumText(kPss[i])) {
                     s.pssIndex = i;
                     return true;
                 }
             why = "must be 64, 128, 256, 512, 1024 or 2048";
             return false;
         }},
        {"net9.allowrefeed", [](const InetSettings& s) { return Text(s.allowRefeed ? "Y" : "N"); },
         [](InetSettings& s, const Text& v, Text& why) { return YesNo(v, s.allowRefeed, why); }},
        {"net9.striphdrs", [](const InetSettings& s) { return Text(s.stripHdrs ? "Y" : "N"); },
         [](InetSettings& s, const Text& v, Text& why) { return YesNo(v, s.stripHdrs, why); }},
        {"net9.suffix", [](const InetSettings& s) { return s.suffix; },
         [](InetSettings& s, const Text& v, Text&) {
             s.suffix = NetValue(v);
             return true;
         }},
    };
    return settings;
}

const NetSetting* FindNet(const Text& name) {
    for (const NetSetting& n : NetSettings())
        if (qstricmp(n.name, name.constData()) == 0) return &n;
    return nullptr;
}

InetSettings LoadNet(const Installation& inst) { return ReadInetSettings(ReadLines(Net9Path(inst.bbs))); }

Text Shown(const SettingsRecord& r, const SettingsField& f, bool showSecrets) {
    const Text value = SettingsFieldText(r, f);
    return f.secret && !showSecrets && !value.isEmpty() ? Text("********") : value;
}

Text KeyedValue(const Installation& inst, const KeyedSetting& k) { return KeyedSettingValue(k, inst.KeyedList()); }

int Print(const Installation& inst, const QStringList& names, bool showSecrets) {
    const SettingsRecord r = inst.LoadSettings();
    if (names.isEmpty()) {
        for (const SettingsField& f : SettingsFields()) ctl::Out(Text(f.name) + " = " + Shown(r, f, showSecrets));
        for (const KeyedSetting& k : KeyedSettings()) ctl::Out(Text(k.key) + " = " + KeyedValue(inst, k));
        const InetSettings net = LoadNet(inst);
        for (const NetSetting& n : NetSettings()) ctl::Out(Text(n.name) + " = " + n.get(net));
        return ctl::kOk;
    }
    TextList lines;
    for (const QString& name : names) {
        const Text n = name.toLocal8Bit();
        if (const SettingsField* f = FindSettingsField(n))
            lines << Text(f->name) + " = " + Shown(r, *f, showSecrets);
        else if (const KeyedSetting* k = FindKeyedSetting(n))
            lines << Text(k->key) + " = " + KeyedValue(inst, *k);
        else if (const NetSetting* s = FindNet(n))
            lines << Text(s->name) + " = " + s->get(LoadNet(inst));
        else
            return ctl::Fail(ctl::kUsage, n + ": no such setting");
    }
    for (const Text& line : lines) ctl::Out(line);
    return ctl::kOk;
}

// What the sysop has changed: the settings that differ from a new file's.
int PrintChanged(const Installation& inst, bool showSecrets) {
    const SettingsRecord r = inst.LoadSettings();
    const SettingsRecord fresh;
    for (const SettingsField& f : SettingsFields())
        if (SettingsFieldText(r, f) != SettingsFieldText(fresh, f))
            ctl::Out(Text(f.name) + " = " + Shown(r, f, showSecrets));
    for (const KeyedSetting& k : KeyedSettings())
        if (const Text value = KeyedValue(inst, k); value != k.shownWhenAbsent) ctl::Out(Text(k.key) + " = " + value);
    return ctl::kOk;
}

int Set(const Installation& inst, const QStringList& pairs) {
    SettingsRecord r = inst.LoadSettings();
    QList<std::pair<const KeyedSetting*, Text>> keyed;
    QList<const SettingsField*> changed;
    InetSettings net = LoadNet(inst);
    QList<const NetSetting*> netChanged;
    for (const QString& pair : pairs) {
        const Text p = pair.toLocal8Bit();
        const qsizetype eq = p.indexOf('=');
        const Text name = Trim(p.left(eq));
        Text value = p.mid(eq + 1);
        Text why;
        if (const SettingsField* f = FindSettingsField(name)) {
            if (!SetSettingsField(r, *f, value, why)) return ctl::Fail(ctl::kUsage, Text(f->name) + ": " + why);
            changed << f;
        } else if (const KeyedSetting* k = FindKeyedSetting(name)) {
            if (!k->accept(value, why)) return ctl::Fail(ctl::kUsage, Text(k->key) + ": " + why);
            keyed.append({k, value});
        } else if (const NetSetting* n = FindNet(name)) {
            if (value.contains('\r') || value.contains('\n'))
                return ctl::Fail(ctl::kUsage, Text(n->name) + ": holds a line break");
            if (!n->set(net, value, why)) return ctl::Fail(ctl::kUsage, Text(n->name) + ": " + why);
            netChanged << n;
        } else {
            return ctl::Fail(ctl::kUsage, name + ": no such setting");
        }
    }
    if (const std::optional<Text> why = inst.RefuseLinks()) return ctl::Fail(ctl::kUsage, *why);
    if (!changed.isEmpty()) {
        ApplyDialogChecks(r);
        if (!WriteSettingsFile(inst.MainDir(), r))
            return ctl::Fail(ctl::kUsage, "cannot write " + SettingsPath(inst.MainDir()).toLocal8Bit());
    }
    for (const auto& [k, value] : keyed) PutData(k->key, value, inst.KeyedList());
    if (!netChanged.isEmpty() && !SaveInetSettings(inst.bbs, net))
        return ctl::Fail(ctl::kUsage, "cannot write " + Net9Path(inst.bbs).toLocal8Bit());
    // What is stored now, after the dialog's checks.
    for (const SettingsField* f : changed) ctl::Out(Text(f->name) + " = " + Shown(r, *f, false));
    for (const auto& [k, value] : keyed) ctl::Out(Text(k->key) + " = " + KeyedValue(inst, *k));
    for (const NetSetting* n : netChanged) ctl::Out(Text(n->name) + " = " + n->get(LoadNet(inst)));
    return ctl::kOk;
}

}   // namespace

int RunConfig(const Installation& inst, const QStringList& arguments, bool showSecrets) {
    if (arguments == QStringList{"-n"}) return PrintChanged(inst, showSecrets);
    qsizetype sets = 0;
    for (const QString& a : arguments) sets += a.contains('=') ? 1 : 0;
    if (sets == 0) return Print(inst, arguments, showSecrets);
    if (sets != arguments.size()) return ctl::Fail(ctl::kUsage, "either print settings or set them, not both");
    return Set(inst, arguments);
}
