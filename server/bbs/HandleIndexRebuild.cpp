// The rebuild of the two handle indexes from the user file.
#include <QHash>
#include <optional>
#include "server/bbs/ByteScan.h"
#include "server/bbs/UserDirectory.h"
#include "server/bbs/UserFileColumns.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

namespace {

constexpr const char* kModule = "modZARV";

// How a name is written into an index: "HANDLES.UIP" lower-cases it and
// turns spaces into dots; "HANDLES.FID" keeps it as stored.
enum class IndexKind { Uip, Fid };

Text IndexName(const Text& name, IndexKind kind) {
    const Text trimmed = Trim(name);
    return kind == IndexKind::Uip ? StrReplace(LCase(trimmed), " ", ".") : trimmed;
}

Text IndexLine(const Text& name, int32_t user, const Text& systemId, IndexKind kind) {
    const Text n = IndexName(name, kind);
    if (kind == IndexKind::Uip) return n + "," + NumText(user) + "," + systemId + ",1" + CRLF;
    return n + "," + NumText(user) + "," + n + "," + systemId + ",1" + CRLF;
}

// The SYSTEMID of network 1, read as a number.
Text IndexSystemId(const BbsConfig& bbs) { return NumText(ValLong(GetNetEntry(bbs, 1, "SYSTEMID"))); }

// Names of the auto-responder mailboxes from "AUTORESP.CFG".
TextList AutoresponderNames(const BbsConfig& bbs) {
    TextList names;
    const QString path = PathJoin(bbs.MainDir(), "AUTORESP.CFG");
    if (!FileExists(path)) return names;
    const Text text = ReadFileText(path);
    ForEachLine(ByteView(text), LineEnds::Any, [&](std::string_view line) {
        const TextList columns = Explode(",", ViewText(line));
        if (columns.size() >= 2 && !Trim(columns[0]).isEmpty()) names.append(Trim(columns[0]));
        return true;
    });
    return names;
}

// The extra names grouped by user number, so the rebuild stays linear.
QHash<int32_t, TextList> ExtraNamesByUser(const Text& extraNames) {
    QHash<int32_t, TextList> byUser;
    if (Trim(extraNames).isEmpty()) return byUser;
    for (const Text& entry : Explode(";", extraNames)) {
        const TextList columns = Explode(",", entry, 2, 2);
        const int32_t user = ValLong(Trim(columns[1]));
        if (user >= 1 && !Trim(columns[0]).isEmpty()) byUser[user].append(columns[0]);
    }
    return byUser;
}

// Every listed user's lines, in record order, with the auto-responder's
// mailboxes and the extra names after their owner's line. Nothing when the
// user file exists but cannot be read: the old index is better than none.
std::optional<Text> IndexBody(const BbsConfig& bbs, int32_t autorespondUser, const Text& extraNames,
                              const Text& systemId, IndexKind kind, const char* procedure) {
    const QHash<int32_t, TextList> extra = ExtraNamesByUser(extraNames);
    const UserColumns users = ReadUserColumns(UserFilePath(bbs), UserColumnSet::HandlesAndLevels, procedure);
    if (!users.readable) return std::nullopt;
    Text body;
    for (int32_t i = 0; i < users.Count(); ++i) {
        const Text handle = ViewText(TrimField(users.HandleField(i)));
        // A line break inside a handle would forge further lines of the index.
        if (handle.isEmpty() || users.SecurityLevel(i) < 1 || handle.contains('\r') || handle.contains('\n')) continue;
        const int32_t user = i + 1;
        const Text own = IndexLine(handle, user, systemId, kind);
        body += own;
        TextList more = user == autorespondUser ? AutoresponderNames(bbs) : TextList();
        more += extra.value(user);
        for (const Text& name : more) body += IndexLine(name, user, systemId, kind);
        if (!more.isEmpty()) body += own;
    }
    return body;
}

// Keeps the previous index as "HANDLES.BAK" and puts the new one in place.
void ReplaceIndex(const QString& dir, const QString& name, const Text& content, const char* procedure) {
    const QString path = PathJoin(dir, name);
    if (FileExists(path)) {
        bool ok = false;
        const Text old = ReadFileBytes(path, &ok);
        if (!ok || !WriteFileAtomic(PathJoin(dir, "HANDLES.BAK"), old, kSharedFile))
            LogError(procedure, kVersion, kModule, "Cannot keep " + TextFromPath(path) + " as HANDLES.BAK");
    }
    if (!WriteFileAtomic(path, content, kSharedFile))
        LogError(procedure, kVersion, kModule, "Cannot write " + TextFromPath(path));
}

}   // namespace

void CreateHandlesUIP(const BbsConfig& bbs, int32_t autorespondUser, const Text& extraNames) {
    const QString path = HandlesUipPath(bbs);
    if (!FileExists(PathJoin(bbs.DataDir(), "NET.9"))) {
        // Without the Internet network no stale handle may stay behind.
        if (FileExists(path) && !RemoveFile(path))
            LogError("CreateHandlesUIP", kVersion, kModule, "Cannot remove " + TextFromPath(path));
        return;
    }
    const Text systemId = IndexSystemId(bbs);
    const std::optional<Text> body =
        IndexBody(bbs, std::max(autorespondUser, 1), extraNames, systemId, IndexKind::Uip, "CreateHandlesUIP");
    if (!body) return;
    const Text daemon = "system-daemon,SYSTEM-DAEMON," + systemId + ",1" + CRLF;
    ReplaceIndex(bbs.MainDir(), "HANDLES.UIP", daemon + *body, "CreateHandlesUIP");
}

void CreateHandlesFID(const BbsConfig& bbs, int32_t autorespondUser, const Text& extraNames) {
    if (!FileExists(PathJoin(bbs.DataDir(), "NET.4"))) return;
    const Text netDir = Trim(GetNetEntry(bbs, 4, "NETDIR"));
    if (netDir.isEmpty()) return;
    const QString dir = ResolveDir(netDir);
    if (!DirExists(dir)) return;
    const std::optional<Text> body = IndexBody(bbs, std::max(autorespondUser, 1), extraNames, IndexSystemId(bbs),
                                               IndexKind::Fid, "CreateHandlesFID");
    if (body) ReplaceIndex(dir, "HANDLES.FID", *body, "CreateHandlesFID");
}
