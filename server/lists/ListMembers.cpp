#include "server/lists/ListMembers.h"

#include "server/address/Recipients.h"
#include "server/bbs/UserDirectory.h"
#include "server/lists/LineFiles.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"
#include "server/store/Settings.h"

namespace {

Text Column(const TextList& c, int i) { return i < c.size() ? Trim(c[i]) : Text(); }

Text DomainLine(const BbsConfig&, const TextList& c) { return LCase(Column(c, 0)); }

Text AliasLine(const BbsConfig&, const TextList& c) {
    return StrPad(LCase(Column(c, 1)), 20) + " " + LCase(Column(c, 0));
}

Text ForwardingLine(const BbsConfig&, const TextList& c) {
    return StrPad(LCase(Column(c, 0)), 20) + " " + LCase(Column(c, 1));
}

Text WholeLine(const BbsConfig&, const TextList& c) { return c.value(0); }

Text HeaderLine(const BbsConfig&, const TextList& c) { return StrPad(Column(c, 0) + ":", 15) + " " + Column(c, 1); }

Text PassThruLine(const BbsConfig&, const TextList& c) {
    return StrPad(LCase(Column(c, 0)), 25) + (ValLong(Column(c, 1)) > 0 ? "*" : "");
}

// The user column names a BBS user by number or by handle.
Text ExemptionLine(const BbsConfig& bbs, const TextList& c) {
    const Text user = Column(c, 0);
    if (IsNumeric(user)) {
        const int32_t number = ValLong(user);
        const Text handle = number > 0 ? GetUser(bbs, number).Handle() : Text("***INVALID USER***");
        return StrPad(NumText(number), 6) + " " + handle;
    }
    return StrPad(NumText(FindHandle(bbs, user)), 6) + " " + user;
}

constexpr const char* kSep = ",;";

QList<ListMember> BuildMembers() {
    return {
        {"frmDomains",
         "frmDomainsEdit",
         "OSPRINE - Secondary Domains",
         "OSPRINE - Secondary Domains",
         "Domains",
         "Domain ",
         "domains",
         kNewDomainPlaceholder,
         100,
         1,
         DomainLine,
         {{"domain", FieldKind::Text, "Domain:", "", 0, FieldKeys::Refuse, ";", Casing::Lower}},
         OkCheck::None},
        {"frmAliases",
         "frmAliasesEdit",
         "OSPRINE - User Aliases",
         "OSPRINE - User Aliases",
         "Aliases",
         "Alias ",
         "aliases",
         "alias,0",
         500,
         2,
         AliasLine,
         {{"alias", FieldKind::Text, "Alias:", "The alias for the user.", 0, FieldKeys::AliasName, kSep, Casing::Lower},
          {"username", FieldKind::Text, "User:", "The user account number or handle.", 1, FieldKeys::Refuse, kSep,
           Casing::Lower}},
         OkCheck::None},
        {"frmMailForwarding",
         "frmMailForwardingEdit",
         "OSPRINE - Mail Forwarding",
         "OSPRINE - Mail Forwarding",
         "Forwarding",
         "Entry ",
         "mailforwarding",
         "0,user@address*netnumber",
         500,
         2,
         ForwardingLine,
         {{"username", FieldKind::Text, "User:", "", 0, FieldKeys::Refuse, kSep, Casing::Lower},
          {"forwardaddress", FieldKind::Text,
           "Forward To:", "The address to forward mail to or in the format of username@address*network number.", 1,
           FieldKeys::Refuse, kSep, Casing::Lower}},
         OkCheck::None},
        {"frmSubjectFilter",
         "frmSubjectFilterEdit",
         "OSPRINE - Subject Filter",
         "OSPRINE - Subject Filter",
         "Filters",
         "Filter ",
         "subjectfilter",
         "*** NEW FILTER ***",
         100,
         1,
         WholeLine,
         {{"filter", FieldKind::Text,
           "Filter:", "If this word or phrase is found in a subject line, the message will be blocked. Case sensitive.",
           0, FieldKeys::Refuse, ";", Casing::AsTyped}},
         OkCheck::BlankSubject},
        {"frmHeaderFilter",
         "frmHeaderFilterEdit",
         "OSPRINE - Header Filter",
         "OSPRINE - Header Filter",
         "Filters",
         "Filter ",
         "headerfilter",
         "X-Filter, *** NEW FILTER ***",
         100,
         2,
         HeaderLine,
         {{"Header", FieldKind::Text, "Header:", "Enter the name of the message header.", 0, FieldKeys::Refuse, ";:,",
           Casing::Trimmed},
          {"Filter", FieldKind::Text, "Filter:",
           "If this word or phrase is found in the header value, the message will be blocked. Case insensitive.", 1,
           FieldKeys::Refuse, kSep, Casing::Trimmed}},
         OkCheck::None},
        {"frmPassThru",
         "frmPassThruEdit",
         "OSPRINE - Mail Pass-Thru",
         "Mail Pass-Thru",
         "Addresses",
         "Address ",
         "passthru",
         "username,0,1",
         500,
         3,
         PassThruLine,
         {{"username", FieldKind::Text, "Username:", "The username to allow to pass through the filters.", 0,
           FieldKeys::Refuse, kSep, Casing::Lower},
          {"handlesuip", FieldKind::Check, "Add Username to HANDLES.UIP",
           "If enabled, this username will be added to HANDLES.UIP when it is generated.", 1, FieldKeys::Any, "",
           Casing::Number},
          {"userno", FieldKind::Text, "User Number:", "", 2, FieldKeys::Digits, kSep, Casing::Number}},
         OkCheck::PassThruUser},
        {"frmFilterExempt",
         "frmFilterExemptEdit",
         "Filter Exemptions",
         "Filter Exemptions",
         "Exemptions",
         "Exemption Entry ",
         "filterexemptions",
         "0,,,,,,,,,,",
         500,
         11,
         ExemptionLine,
         {{"username", FieldKind::Text, "User:", "", 0, FieldKeys::Refuse, kSep, Casing::Lower},
          {"ExSpamAssassin", FieldKind::Check, "SpamAssassin",
           "Do not perform SpamAssassin filtering for emails addressed to this user.", 1, FieldKeys::Any, "",
           Casing::Number},
          {"ExHeaderFilter", FieldKind::Check, "Header Filter",
           "Do not perform header filtering for emails addressed to this user.", 2, FieldKeys::Any, "", Casing::Number},
          {"ExSubjectFilter", FieldKind::Check, "Subject Filter",
           "Do not perform subject filtering for emails addressed to this user.", 3, FieldKeys::Any, "",
           Casing::Number}},
         OkCheck::None},
        {"zarvinettwit",
         "zarvinettwitedit",
         "ZARV - TWIT.LST Configuration",
         "ZARV - TWIT.LST Configuration",
         "TWIT.LST Entries",
         "Entry ",
         "",
         "NEW TWIT",
         50,
         1,
         WholeLine,
         {{"entry", FieldKind::Text, "Entry:", "", 0, FieldKeys::Any, "", Casing::Trimmed}},
         OkCheck::None},
    };
}

}   // namespace

const QList<ListMember>& ListMembers() {
    static const QList<ListMember> members = BuildMembers();
    return members;
}

const ListMember* FindListMember(const QString& listForm) {
    for (const ListMember& m : ListMembers())
        if (listForm == QLatin1String(m.listForm)) return &m;
    return nullptr;
}

QString TwitListPath(const BbsConfig& bbs) {
    const QString dir = bbs.DataDir();
    const QString found = FindNameNoCase(dir, "TWIT.LST");
    return PathJoin(dir, found.isEmpty() ? QStringLiteral("TWIT.LST") : found);
}

TextList LoadEntries(const BbsConfig& bbs, const ListMember& member) {
    if (member.key.isEmpty()) {
        TextList lines;
        for (const Text& line : ReadLines(TwitListPath(bbs)))
            if (!Trim(line).isEmpty()) lines.append(line);
        return lines;
    }
    const Text value = GetData(member.key, KeyedListPath(bbs.MainDir()));
    return value.isEmpty() ? TextList() : Explode(";", value);
}

void SaveEntries(const BbsConfig& bbs, const ListMember& member, const TextList& entries) {
    if (member.key.isEmpty()) {
        TextList lines;
        for (const Text& e : entries)
            if (!Trim(e).isEmpty()) lines.append(e);
        const QString path = TwitListPath(bbs);
        WriteLines(path, lines);
        return;
    }
    TextList kept;
    for (const Text& e : entries)
        if (!e.isEmpty()) kept.append(e);
    PutData(member.key, kept.join(';'), KeyedListPath(bbs.MainDir()));
}

TextList EntryColumns(const ListMember& member, const Text& entry) {
    if (member.columns == 1) return {entry};
    return Explode(",", entry, 0, member.columns);
}
