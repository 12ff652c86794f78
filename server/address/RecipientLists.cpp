// Pass-through names, access flags, forwarding, filter exemptions and
// mailing lists: the per-recipient answers read from the lists.
#include <optional>
#include "server/address/RecipientRules.h"
#include "server/address/Recipients.h"
#include "server/bbs/ByteScan.h"
#include "server/bbs/UserDirectory.h"
#include "server/store/Files.h"

namespace {

constexpr const char* kModule = "modOSPRINE";

// The access flags network 9 (the Internet) asks for in "NETWORKS.LST";
// nothing when the list cannot be read.
std::optional<Text> RequiredInternetFlags(const QString& networksList) {
    Text required = "-";
    const std::optional<Text> list = ReadListFile(networksList, "CheckUserFlags", kModule);
    if (!list) return std::nullopt;
    ForEachLine(ByteView(*list), LineEnds::Any, [&](std::string_view line) {
        const TextList columns = Explode(",", ViewText(line), 4, 4);
        if (ValLong(Trim(columns[0])) != 9) return true;
        required = UCase(Trim(columns[3]));
        return false;
    });
    return required;
}

// The first row of a user-keyed section that names the user.
TextList RowForUser(const ServerContext& ctx, const Text& section, int columns, int32_t userNumber) {
    const UserRecord user = GetUser(ctx.Bbs(), userNumber);
    for (const TextList& row : SectionRows(ctx, section, columns))
        if (UserColumnMatches(row[0], userNumber, user)) return row;
    return {};
}

}   // namespace

bool CheckPassThru(const ServerContext& ctx, const Text& address) {
    const Text local = NormalisedLocalPart(address);
    if (local.isEmpty()) return false;
    for (const TextList& row : SectionRows(ctx, "passthru", 3))
        if (SameText(row[0], local)) return true;
    return false;
}

Text CreatePassThruString(const ServerContext& ctx) {
    TextList entries;
    for (const TextList& row : SectionRows(ctx, "passthru", 3)) {
        const int32_t user = ValLong(row[2]);
        if (ValLong(row[1]) == 1 && user > 0) entries.append(row[0] + "," + NumText(user));
    }
    return entries.join(';');
}

bool CheckUserFlags(const ServerContext& ctx, int32_t userNumber) {
    const QString networks = PathJoin(ctx.Bbs().DataDir(), "NETWORKS.LST");
    if (userNumber < 1 || !FileExists(networks)) return false;
    const std::optional<Text> flags = RequiredInternetFlags(networks);
    if (!flags) return false;
    const Text& required = *flags;
    if (required.isEmpty() || required == "-") return true;
    const UserRecord user = GetUser(ctx.Bbs(), userNumber);
    return UCase(user.AccessFlags()).contains(required) || user.SecurityLevel() >= 255;
}

Text CheckForwarding(const ServerContext& ctx, int32_t userNumber) {
    if (userNumber < 1 || BeyondUserFile(ctx, userNumber)) return {};
    const TextList row = RowForUser(ctx, "mailforwarding", 2, userNumber);
    return row.isEmpty() ? Text() : LCase(row[1]);
}

bool CheckFilterExemption(const ServerContext& ctx, const Text& address, int column) {
    if (column < 1 || column > 10) return false;
    const int32_t user = FindUser(ctx, address);
    if (user < 1 || BeyondUserFile(ctx, user)) return false;
    const TextList row = RowForUser(ctx, "filterexemptions", 11, user);
    return !row.isEmpty() && ValLong(row[column]) == 1;
}

bool FindMaillist(const ServerContext& ctx, const Text& listName, TextList& members) {
    members.clear();
    const Text name = Trim(listName);
    const QString path = PathJoin(ctx.Bbs().SpoolDir(), "LISTSERV.LST");
    if (name.isEmpty() || !FileExists(path)) return false;
    bool found = false;
    const std::optional<Text> lists = ReadListFile(path, "FindMaillist", kModule);
    if (!lists) return false;
    ForEachLine(ByteView(*lists), LineEnds::Any, [&](std::string_view line) {
        const TextList words = Explode(" ", ViewText(line));
        if (!SameText(Trim(words[0]), name)) return true;
        for (qsizetype i = 1; i < words.size(); ++i) {
            const Text member = Trim(words[i]);
            if (!member.isEmpty()) members.append(LCase(member));
        }
        found = true;
        return false;
    });
    return found;
}
