// Whether a recipient is local and whom it stands for.
#include "server/address/Recipients.h"
#include "server/address/RecipientRules.h"
#include "server/bbs/UserDirectory.h"
#include "server/store/Files.h"

namespace {

TextList AddressPieces(const Text& address) { return Explode("@", address, 2, 2); }

bool IsSpecial(const Text& local, const char* name) { return SameText(local, name); }

bool IsFileRequest(const ServerContext& ctx, const Text& local) {
    return On(ctx.Settings().AllowFreq) && IsSpecial(local, "SYSOP**F");
}

bool HandlesUipExists(const ServerContext& ctx) { return FileExists(HandlesUipPath(ctx.Bbs())); }
bool UserFileExists(const ServerContext& ctx) { return FileExists(UserFilePath(ctx.Bbs())); }

// A local part of digits taken as a user number (setting EmailUserNumber).
int32_t UserNumberOf(const ServerContext& ctx, const Text& local) {
    if (!IsNumeric(local) || !On(ctx.Settings().EmailUserNumber) || !UserFileExists(ctx)) return 0;
    const int32_t n = ValLong(local);
    return n > 0 && n <= UserCount(ctx.Bbs()) ? n : 0;
}

Text TrimmedName(const ServerContext& ctx, int32_t user, bool* failed = nullptr) {
    return GetUser(ctx.Bbs(), user, failed).Handle();
}

// A user number with the name to file the mail under; user 0 is nobody.
struct FoundUser {
    int32_t user = 0;
    Text name;
};

// The file-request address: the auto-responder, or the sysop when its
// record cannot be read.
FoundUser FileRequestUser(const ServerContext& ctx) {
    bool failed = false;
    const Text name = TrimmedName(ctx, ctx.Settings().AutorespondUser, &failed);
    if (failed) return {1, TrimmedName(ctx, 1)};
    return {ctx.Settings().AutorespondUser, name};
}

// A handle of "HANDLES.UIP"; the mail is filed under the handle itself.
FoundUser ByHandleIndex(const ServerContext& ctx, const Text& local) {
    if (!HandlesUipExists(ctx)) return {};
    const int32_t n = ValLong(ScanHandlesUip(ctx.Bbs(), local, 0));
    return n > 0 ? FoundUser{n, local} : FoundUser{};
}

// A record name of the user file, given with spaces for dots; the mail is
// filed under the user's handle, or the record name when the user has none.
FoundUser ByRecordName(const ServerContext& ctx, const Text& spaced) {
    // A trimmed record name never equals a name with blanks at its ends,
    // as a dot at either end of the local part leaves it.
    if (!UserFileExists(ctx) || Trim(spaced) != spaced) return {};
    const int32_t n = FindHandle(ctx.Bbs(), spaced);
    if (n < 1) return {};
    const Text handle = ScanHandlesUip(ctx.Bbs(), {}, n);
    return {n, handle.isEmpty() ? TrimmedName(ctx, n) : handle};
}

FoundUser ByUserNumber(const ServerContext& ctx, const Text& local) {
    const int32_t n = UserNumberOf(ctx, local);
    return n > 0 ? FoundUser{n, NumText(n)} : FoundUser{};
}

// The postmaster and the list server are the sysop's.
FoundUser ByServiceName(const ServerContext& ctx, const Text& local) {
    if (!IsSpecial(local, "LISTSERV") && !IsSpecial(local, "POSTMASTER")) return {};
    return {1, TrimmedName(ctx, 1)};
}

FoundUser ResolveUser(const ServerContext& ctx, const Text& address) {
    Text local = NormalisedLocalPart(address);
    if (local.isEmpty() || (!UserFileExists(ctx) && !HandlesUipExists(ctx))) return {};
    if (IsFileRequest(ctx, local)) return FileRequestUser(ctx);
    local = ResolveAlias(ctx, local);
    if (FoundUser found = ByHandleIndex(ctx, local); found.user > 0) return found;
    // From the user file on, the local part is read with its dots as
    // spaces, as record names are written ("5." is then user 5).
    if (UserFileExists(ctx)) local = StrReplace(local, ".", " ");
    for (const auto step : {ByRecordName, ByUserNumber, ByServiceName})
        if (FoundUser found = step(ctx, local); found.user > 0) return found;
    return {};
}

}   // namespace

Text NormalisedLocalPart(const Text& address) { return StrReplace(Trim(AddressPieces(address)[0]), " ", "."); }

Text GetAddressDomain(const Text& address) {
    const Text a = Trim(address);
    const qsizetype at = a.indexOf('@');
    return at < 0 ? Text() : a.mid(at + 1);
}

bool CheckDomain(const ServerContext& ctx, const Text& address) {
    const Text domain = Trim(AddressPieces(address)[1]);
    if (domain.isEmpty()) return false;
    if (FileExists(PathJoin(ctx.Bbs().DataDir(), "NET.9")) && SameText(GetSystemId(ctx.Bbs()), domain)) return true;
    if (SameText(domain, kNewDomainPlaceholder)) return false;
    for (const TextList& row : SectionRows(ctx, "domains", 1))
        if (SameText(row[0], domain)) return true;
    return false;
}

bool CheckTo(const ServerContext& ctx, const Text& address) {
    Text local = NormalisedLocalPart(address);
    if (local.isEmpty()) return false;
    if (IsFileRequest(ctx, local) || IsSpecial(local, "LISTSERV") || IsSpecial(local, "POSTMASTER")) return true;
    local = ResolveAlias(ctx, local);
    if (!ScanHandlesUip(ctx.Bbs(), local, 0).isEmpty()) return true;
    // A name found only in the user file is not deliverable here; FindUser finds it.
    return UserNumberOf(ctx, local) > 0;
}

int32_t FindUser(const ServerContext& ctx, const Text& address, Text* name) {
    const FoundUser found = ResolveUser(ctx, address);
    if (name) *name = found.name;
    return found.user;
}
