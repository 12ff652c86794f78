#include "server/address/RecipientRules.h"
#include "server/bbs/UserDirectory.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"

QList<TextList> SectionRows(const ServerContext& ctx, const Text& section, int columns) {
    QList<TextList> rows;
    const Text value = GetData(section, ctx.KeyedList());
    if (Trim(value).isEmpty()) return rows;
    for (const Text& row : Explode(";", value)) {
        TextList cells = Explode(",", row, columns, columns);
        for (Text& cell : cells) cell = Trim(cell);
        rows.append(cells);
    }
    return rows;
}

Text ResolveAlias(const ServerContext& ctx, const Text& local) {
    for (const TextList& row : SectionRows(ctx, "aliases", 2)) {
        const Text alias = StrReplace(row[0], " ", ".");
        if (alias.isEmpty() || !SameText(alias, local) || SameText(alias, "ALIAS")) continue;
        const Text& target = row[1];
        if (target.isEmpty()) continue;   // an alias without a user: later rows may still apply
        if (!IsNumeric(target)) return StrReplace(target, " ", ".");
        const int32_t user = ValLong(target);
        if (user <= 0) return local;
        return StrReplace(GetUser(ctx.Bbs(), user).Handle(), " ", ".");
    }
    return local;
}

bool UserColumnMatches(const Text& column, int32_t userNumber, const UserRecord& user) {
    const Text c = Trim(column);
    if (IsNumeric(c)) return ValLong(c) == userNumber;
    // An empty column names nobody, not the empty name of an unreadable record.
    return !c.isEmpty() && SameText(c, user.Handle());
}

bool BeyondUserFile(const ServerContext& ctx, int32_t userNumber) {
    return FileExists(UserFilePath(ctx.Bbs())) && userNumber > UserCount(ctx.Bbs());
}
