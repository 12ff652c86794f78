#include "server/lists/MailingListFile.h"

#include "server/store/Files.h"

namespace {
TextList Words(const Text& line) {
    TextList words;
    for (const Text& w : line.split(' '))
        if (!Trim(w).isEmpty()) words.append(Trim(w));
    return words;
}

}   // namespace

MailingList ParseMailingList(const Text& line) {
    const TextList w = Words(line);
    MailingList list;
    list.name = w.value(0);
    list.owner = w.value(1) == "-" ? Text() : w.value(1);
    list.subscribers = w.mid(2);
    return list;
}

Text FormatMailingList(const MailingList& list) {
    const Text owner = LCase(Trim(list.owner));
    Text line = UCase(Trim(list.name)).replace(' ', '_') + " " + (owner.isEmpty() ? Text("-") : owner);
    for (const Text& s : list.subscribers)
        if (!Trim(s).isEmpty()) line += " " + Trim(s);
    return line;
}

QString ListservPath(const QString& spoolDir) {
    const QString found = FindNameNoCase(spoolDir, "LISTSERV.LST");
    return PathJoin(spoolDir, found.isEmpty() ? QStringLiteral("LISTSERV.LST") : found);
}

QString MailingListSpoolDir(const BbsConfig& bbs) {
    const Text netDir = GetNetEntry(bbs, 9, "NETDIR");
    if (netDir.isEmpty()) return {};
    const QString dir = ResolveDir(netDir);
    return DirExists(dir) ? dir : QString();
}
