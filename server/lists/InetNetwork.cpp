#include "server/lists/InetNetwork.h"

#include "server/lists/LineFiles.h"
#include "server/store/Files.h"

namespace {

QString DataFile(const BbsConfig& bbs, const char* name) {
    const QString dir = bbs.DataDir();
    const QString found = FindNameNoCase(dir, name);
    return PathJoin(dir, found.isEmpty() ? QString::fromLatin1(name) : found);
}

bool IsRemote(const Text& line) { return NetLineKey(line) == "remote"; }

Text YesNo(bool on) { return on ? "Y" : "N"; }

// A remote field as written: empty becomes "-", spaces become "_".
Text Field(const Text& typed) {
    const Text v = NetValue(typed);
    return v.isEmpty() ? Text("-") : v;
}

Text Shown(const Text& field) { return field == "-" ? Text() : field; }

TextList RemoteFields(const Text& entry) {
    Text single = Trim(entry);
    while (single.contains("  ")) single.replace("  ", " ");
    TextList fields = single.isEmpty() ? TextList() : single.split(' ');
    while (fields.size() < 10) fields.append(Text());
    return fields;
}

}   // namespace

QString Net9Path(const BbsConfig& bbs) { return DataFile(bbs, "NET.9"); }

Text NetLineKey(const Text& line) {
    const qsizetype at = line.indexOf('=');
    return LCase(Trim(at < 0 ? line : line.left(at)));
}

Text NetLineValue(const Text& line) {
    const qsizetype at = line.indexOf('=');
    return at < 0 ? Text() : line.mid(at + 1);
}

Text NetValue(const Text& typed) { return Trim(typed).replace(' ', '_'); }

InetSettings ReadInetSettings(const TextList& lines) {
    InetSettings s;
    for (const Text& line : lines) {
        const Text key = NetLineKey(line);
        const Text value = Trim(NetLineValue(line));
        if (key == "systemid")
            s.systemId = value;
        else if (key == "netdir")
            s.netDir = value;
        else if (key == "pss") {
            const int16_t code = ValInteger(value);
            s.pssIndex = code >= 2 && code <= 7 ? code - 2 : 0;
        } else if (key == "allowrefeed")
            s.allowRefeed = SameText(value, "y");
        else if (key == "striphdrs")
            s.stripHdrs = SameText(value, "y");
        else if (key == "suffix")
            s.suffix = value;
    }
    return s;
}

TextList InetSettingsLines(const InetSettings& s, const TextList& oldLines) {
    Text netDir = Trim(s.netDir);
    // One trailing separator goes; "/" alone stays the root.
    if (netDir.size() > 1 && (netDir.endsWith('\\') || netDir.endsWith('/'))) netDir.chop(1);
    TextList lines = {
        "systemid=" + NetValue(s.systemId),
        "netdir=" + NetValue(netDir),
        "pss=" + NumText(std::clamp(s.pssIndex, 0, 5) + 2),
        "allowrefeed=" + YesNo(s.allowRefeed),
        "striphdrs=" + YesNo(s.stripHdrs),
        "suffix=" + NetValue(s.suffix),
    };
    for (const Text& line : oldLines)
        if (IsRemote(line)) lines.append(line);
    return lines;
}

bool SaveInetSettings(const BbsConfig& bbs, const InetSettings& s) {
    return WriteLines(Net9Path(bbs), InetSettingsLines(s, ReadLines(Net9Path(bbs))));
}

TextList RemoteEntries(const TextList& lines) {
    TextList entries;
    for (const Text& line : lines)
        if (IsRemote(line)) entries.append(NetLineValue(line));
    return entries;
}

TextList RemoteEntryLines(const TextList& oldLines, const TextList& entries) {
    TextList lines;
    for (const Text& line : oldLines)
        if (!IsRemote(line)) lines.append(line);
    for (const Text& e : entries)
        if (!Trim(e).isEmpty()) lines.append("remote=" + e);
    return lines;
}

bool SaveRemoteEntries(const BbsConfig& bbs, const TextList& entries) {
    return WriteLines(Net9Path(bbs), RemoteEntryLines(ReadLines(Net9Path(bbs)), entries));
}

Text NewRemoteEntry(const Text& systemId) { return "- - - - - - - " + Field(systemId) + " NNXXXXXX"; }

RemoteEntry ParseRemoteEntry(const Text& entry) {
    const TextList f = RemoteFields(entry);
    RemoteEntry r;
    r.name = Shown(f[0]);
    r.phone = Shown(f[1]);
    const TextList dirs = Explode(";", Shown(f[2]), 2, 2);
    r.smtpDir = Trim(dirs[0]);
    r.nntpDir = Trim(dirs[1]);
    r.loginWait = Shown(f[3]);
    r.loginSend = Shown(f[4]);
    r.passwordWait = Shown(f[5]);
    r.passwordSend = Shown(f[6]);
    r.knowsAs = Shown(f[7]);
    const Text flags = UCase(f[8]);
    r.defaultNews = flags.startsWith('Y');
    r.dialMode = flags.size() > 1 && Text("NLDH").contains(flags[1]) ? flags[1] : 'N';
    r.newsAlias = Shown(f[9]);
    return r;
}

Text FormatRemoteEntry(const RemoteEntry& r) {
    // Directories keep their letter case on this platform.
    const Text smtp = Trim(r.smtpDir), nntp = Trim(r.nntpDir);
    const Text dirs = smtp.isEmpty() && nntp.isEmpty() ? Text() : smtp + ";" + nntp;
    const Text flags = YesNo(r.defaultNews) + Text(1, Text("NLDH").contains(r.dialMode) ? r.dialMode : 'N') + "XXXXXX";
    const TextList fields = {Field(r.name),         Field(UCase(r.phone)), Field(dirs),
                             Field(r.loginWait),    Field(r.loginSend),    Field(r.passwordWait),
                             Field(r.passwordSend), Field(r.knowsAs),      flags,
                             Field(r.newsAlias)};
    return fields.join(' ');
}

Text RemoteListLine(const Text& entry) {
    const TextList f = RemoteFields(entry);
    return StrPad(Trim(f[0]), 12) + " " + f[2];
}
