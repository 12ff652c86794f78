#include "osprinectl/ListCommand.h"
#include <functional>
#include "osprinectl/Output.h"
#include "server/lists/InetNetwork.h"
#include "server/lists/IpPatterns.h"
#include "server/lists/LineFiles.h"
#include "server/lists/ListEntry.h"
#include "server/lists/MailingListFile.h"
#include "server/store/KeyedList.h"

const char* const kListHelp =
    "Usage: osprinectl [-d DIR] list\n"
    "       osprinectl [-d DIR] list LIST\n"
    "       osprinectl [-d DIR] list LIST add ROW\n"
    "       osprinectl [-d DIR] list LIST delete FIRST-COLUMN\n"
    "       osprinectl [-d DIR] list LIST move FIRST-COLUMN up|down\n"
    "Without a list, names the lists. With one, prints its rows as stored, one a line.\n"
    "A row holds the columns of an entry separated by \",\" (for example \"sysadmin,1\" in\n"
    "\"aliases\": the alias, then the user number or handle). The list editors' rules apply:\n"
    "no separators inside a column, digits where the editor takes digits only, each list's\n"
    "limit. \"delete\" and \"move\" find the row by its first column, ignoring letter case.\n"
    "\"ipconfig\" is kept sorted, so its rows do not move. \"listserv\" holds the mailing lists\n"
    "of LISTSERV.LST, a row being \"NAME OWNER [SUBSCRIBER ...]\"; \"listserv:NAME\" holds the\n"
    "subscribers of one. \"net9remote\" holds the remote systems of NET.9, ten fields a row.\n";

namespace {

// One list as osprinectl edits it.
struct EditableList {
    Text name;
    const char* about;
    std::function<TextList()> load;
    std::function<void(const TextList&)> save;
    // The stored entry for a typed row; false with the reason.
    std::function<bool(const Text& row, Text& entry, Text& why)> accept;
    std::function<Text(const Text& entry)> firstColumn;
    int limit = 0;   // 0: none
    bool sorted = false;
};

Text SeparatorRefusal(const Text& text, const char* refused) {
    EditField field{"", FieldKind::Text, "", "", 0, FieldKeys::Refuse, refused, Casing::Trimmed};
    return FieldRefusal(field, text);
}

EditableList MemberList(const Installation& inst, const ListMember& m) {
    EditableList l;
    l.name = m.key.isEmpty() ? Text("twit") : m.key;
    l.about = m.title;
    l.limit = m.limit;
    l.load = [&inst, &m] { return LoadEntries(inst.bbs, m); };
    l.save = [&inst, &m](const TextList& entries) { SaveEntries(inst.bbs, m, entries); };
    l.firstColumn = [&m](const Text& entry) { return Trim(EntryColumns(m, entry).value(0)); };
    l.accept = [&m](const Text& row, Text& entry, Text& why) {
        const TextList columns = EntryColumns(m, row);
        TextList values;
        for (const EditField& f : m.fields) {
            Text typed = columns.value(f.column);
            // The alias field's key filter turns a space into a dot.
            if (f.keys == FieldKeys::AliasName) typed = Trim(typed).replace(' ', '.');
            if (const Text refusal = FieldRefusal(f, typed); !refusal.isEmpty()) {
                QByteArray field = f.caption;
                field.chop(field.endsWith(':') ? 1 : 0);
                why = field.toLower() + " " + refusal;
                return false;
            }
            values << typed;
        }
        entry = BuildListEntry(m, values);
        why = EntryRefusal(m, entry);
        return why.isEmpty();
    };
    return l;
}

TextList KeyedRows(const Installation& inst, const char* key) {
    const Text value = GetData(key, inst.KeyedList());
    return value.isEmpty() ? TextList() : Explode(";", value);
}

// A list kept under one key of the keyed list, its rows joined by ";".
EditableList KeyedList(const Installation& inst, const char* key, const char* about) {
    EditableList l;
    l.name = key;
    l.about = about;
    l.load = [&inst, key] { return KeyedRows(inst, key); };
    l.save = [&inst, key](const TextList& rows) { PutData(key, rows.join(';'), inst.KeyedList()); };
    l.firstColumn = [](const Text& entry) { return Trim(entry); };
    return l;
}

EditableList RelayList(const Installation& inst) {
    EditableList l = KeyedList(inst, "relaydb", "DNS block-list zones, asked in this order");
    l.accept = [](const Text& row, Text& entry, Text& why) {
        entry = Trim(row);
        why = entry.isEmpty() ? Text("a zone name is needed") : SeparatorRefusal(entry, ";,");
        return why.isEmpty();
    };
    return l;
}

EditableList IpList(const Installation& inst) {
    EditableList l = KeyedList(
        inst, "ipconfig",
        "IP restrictions: IPv4 patterns, each part a number or \"*\", and IPv6 networks (2001:db8::/32, ::1)");
    l.sorted = true;
    l.save = [&inst](const TextList& p) { PutData("ipconfig", SortIpPatterns(p).join(';'), inst.KeyedList()); };
    l.accept = [](const Text& row, Text& entry, Text& why) {
        if (Trim(row).contains(':')) return AcceptIpv6Row(row, entry, why);
        const TextList parts = Trim(row).split('.');
        bool ok = parts.size() == 4;
        for (const Text& p : parts) ok = ok && IsIpPart(Trim(p));
        if (!ok) {
            why = "a pattern is four parts separated by \".\", each \"*\" or a number from 0 to 255";
            return false;
        }
        TextList trimmed;
        for (const Text& p : parts) trimmed << Trim(p);
        entry = trimmed.join('.');
        return true;
    };
    return l;
}

TextList NonBlank(const TextList& lines) {
    TextList kept;
    for (const Text& l : lines)
        if (!Trim(l).isEmpty()) kept.append(l);
    return kept;
}

EditableList MailingLists(const QString& file) {
    EditableList l;
    l.name = "listserv";
    l.about = "mailing lists (LISTSERV.LST): name, owner, subscribers";
    l.limit = kMaxMailingLists;
    l.load = [file] { return NonBlank(ReadLines(file)); };
    l.save = [file](const TextList& lines) { WriteLines(file, NonBlank(lines)); };
    l.firstColumn = [](const Text& entry) { return ParseMailingList(entry).name; };
    l.accept = [](const Text& row, Text& entry, Text& why) {
        const MailingList list = ParseMailingList(row);
        if (list.name.isEmpty())
            why = "the list name cannot be empty";
        else if (list.subscribers.size() > kMaxSubscribers)
            why = "at most " + NumText(kMaxSubscribers) + " subscribers";
        else if (row.contains('\r') || row.contains('\n'))
            why = "holds a line break";
        entry = FormatMailingList(list);
        return why.isEmpty();
    };
    return l;
}

// The subscribers of one mailing list, kept in its line.
EditableList Subscribers(const QString& file, const Text& listName) {
    EditableList l;
    l.name = "listserv:" + listName.toLower();
    l.about = "subscribers of one mailing list";
    l.limit = kMaxSubscribers;
    const auto find = [file, listName](TextList& lines) {
        lines = NonBlank(ReadLines(file));
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (SameText(ParseMailingList(lines[i]).name, listName)) return i;
        return qsizetype(-1);
    };
    l.load = [find] {
        TextList lines;
        const qsizetype at = find(lines);
        return at < 0 ? TextList() : ParseMailingList(lines[at]).subscribers;
    };
    l.save = [file, find](const TextList& subscribers) {
        TextList lines;
        const qsizetype at = find(lines);
        if (at < 0) return;
        MailingList list = ParseMailingList(lines[at]);
        list.subscribers = NonBlank(subscribers);
        lines[at] = FormatMailingList(list);
        WriteLines(file, lines);
    };
    l.firstColumn = [](const Text& entry) { return Trim(entry); };
    l.accept = [](const Text& row, Text& entry, Text& why) {
        entry = Trim(row);
        why = entry.isEmpty() ? Text("an address is needed") : SeparatorRefusal(entry, " ");
        return why.isEmpty();
    };
    return l;
}

EditableList RemoteSystems(const Installation& inst) {
    EditableList l;
    l.name = "net9remote";
    l.about = "remote systems of NET.9 (ten fields, \"-\" for an empty one)";
    l.load = [&inst] { return RemoteEntries(ReadLines(Net9Path(inst.bbs))); };
    l.save = [&inst](const TextList& entries) { SaveRemoteEntries(inst.bbs, entries); };
    l.firstColumn = [](const Text& entry) { return ParseRemoteEntry(entry).name; };
    l.accept = [](const Text& row, Text& entry, Text& why) {
        const RemoteEntry r = ParseRemoteEntry(row);
        if (row.contains('\r') || row.contains('\n'))
            why = "holds a line break";
        else if (r.name.isEmpty())
            why = "the remote system's name is needed";
        entry = FormatRemoteEntry(r);
        return why.isEmpty();
    };
    return l;
}

QList<EditableList> Lists(const Installation& inst, const Text& wanted) {
    QList<EditableList> lists;
    for (const ListMember& m : ListMembers()) lists << MemberList(inst, m);
    lists << RelayList(inst) << IpList(inst);
    const QString spool = MailingListSpoolDir(inst.bbs);
    if (!spool.isEmpty()) {
        lists << MailingLists(ListservPath(spool));
        for (const Text& line : NonBlank(ReadLines(ListservPath(spool))))
            if (wanted.startsWith("listserv:") && SameText(ParseMailingList(line).name, wanted.mid(9)))
                lists << Subscribers(ListservPath(spool), wanted.mid(9));
    }
    if (inst.netLoaded) lists << RemoteSystems(inst);
    return lists;
}

qsizetype FindRow(const EditableList& l, const TextList& rows, const Text& first) {
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (l.firstColumn(rows[i]).toLower() == Trim(first).toLower()) return i;
    return -1;
}

int Edit(const Installation& inst, const EditableList& l, const QStringList& args) {
    const QString verb = args.value(0);
    const Text row = args.value(1).toLocal8Bit();
    TextList rows = l.load();
    if (verb == "add" && args.size() == 2) {
        if (l.limit > 0 && rows.size() >= l.limit)
            return ctl::Fail(ctl::kUsage, l.name + " is full (" + NumText(l.limit) + " entries)");
        Text entry, why;
        if (!l.accept(row, entry, why)) return ctl::Fail(ctl::kUsage, l.name + ": " + why);
        rows.append(entry);
    } else if (verb == "delete" && args.size() == 2) {
        const qsizetype at = FindRow(l, rows, row);
        if (at < 0) return ctl::Fail(ctl::kUsage, l.name + ": no row \"" + row + "\"");
        rows.removeAt(at);
    } else if (verb == "move" && args.size() == 3 && (args[2] == "up" || args[2] == "down")) {
        if (l.sorted) return ctl::Fail(ctl::kUsage, l.name + " is kept sorted; its rows do not move");
        const qsizetype at = FindRow(l, rows, row);
        const qsizetype to = at + (args[2] == "up" ? -1 : 1);
        if (at < 0) return ctl::Fail(ctl::kUsage, l.name + ": no row \"" + row + "\"");
        if (to < 0 || to >= rows.size())
            return ctl::Fail(ctl::kUsage, l.name + ": \"" + row + "\" cannot move " + args[2].toLatin1());
        rows.swapItemsAt(at, to);
    } else {
        return ctl::Fail(ctl::kUsage,
                         "usage: osprinectl list LIST [add ROW | delete FIRST-COLUMN | move FIRST-COLUMN up|down]");
    }
    if (const std::optional<Text> why = inst.RefuseLinks()) return ctl::Fail(ctl::kUsage, *why);
    // As the dialogs do: the keyed list file exists while it holds a list.
    CreateFile(inst.KeyedList(), false);
    l.save(rows);
    DeleteData(inst.KeyedList());
    return ctl::kOk;
}

}   // namespace

int RunList(const Installation& inst, const QStringList& arguments) {
    const Text name = arguments.value(0).toLocal8Bit().toLower();
    const QList<EditableList> lists = Lists(inst, name);
    if (arguments.isEmpty()) {
        for (const EditableList& l : lists) ctl::Out(l.name.leftJustified(18) + " " + l.about);
        return ctl::kOk;
    }
    for (const EditableList& l : lists) {
        if (l.name != name) continue;
        if (arguments.size() == 1) {
            for (const Text& row : l.load()) ctl::Out(row);
            return ctl::kOk;
        }
        return Edit(inst, l, arguments.mid(1));
    }
    return ctl::Fail(ctl::kUsage, name + ": no such list (\"osprinectl list\" names them)");
}
