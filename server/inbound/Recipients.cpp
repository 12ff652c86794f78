// Whether a recipient is local and whom it stands for.
#include "server/inbound/Recipients.h"
#include "server/bbs/UserDirectory.h"
#include "server/inbound/RecipientRules.h"
#include "server/store/Files.h"

namespace {

TextList AddressPieces(const Text& address) { return Explode("@", address, 2, 2); }

bool IsSpecial(const Text& local, const char* name) { return SameText(local, name); }

bool IsFileRequest(const ServerContext& ctx, const Text& local) {
    return ctx.settings.AllowFreq == 1 && IsSpecial(local, "SYSOP**F");
}

bool HandlesUipExists(const ServerContext& ctx) { return FileExists(HandlesUipPath(ctx.bbs)); }
bool UserFileExists(const ServerContext& ctx) { return FileExists(UserFilePath(ctx.bbs)); }

// A local part of digits taken as a user number (setting EmailUserNumber).
int32_t UserNumberOf(const ServerContext& ctx, const Text& local) {
    if (!IsNumeric(local) || ctx.settings.EmailUserNumber != 1 || !UserFileExists(ctx)) return 0;
    const int32_t n = ValLong(local);
    return n > 0 && n <= UserCount(ctx.bbs) ? n : 0;
}

Text TrimmedName(const ServerContext& ctx, int32_t user, bool* failed = nullptr) {
    return GetUser(ctx.bbs, user, failed).Handle();
}

}  // namespace

Text NormalisedLocalPart(const Text& address) {
    return StrReplace(Trim(AddressPieces(address)[0]), " ", ".");
}

Text GetAddressDomain(const Text& address) {
    const Text a = Trim(address);
    const qsizetype at = a.indexOf('@');
    return at < 0 ? Text() : a.mid(at + 1);
}

bool CheckDomain(const ServerContext& ctx, const Text& address) {
    const Text domain = Trim(AddressPieces(address)[1]);
    if (domain.isEmpty()) return false;
    if (FileExists(PathJoin(ctx.bbs.DataDir(), "NET.9")) && SameText(GetSystemId(ctx.bbs), domain)) return true;
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
    if (HandlesUipExists(ctx) && !ScanHandlesUip(ctx.bbs, local, 0).isEmpty()) return true;
    // A name found only in the user file is not deliverable here; FindUser finds it.
    return UserNumberOf(ctx, local) > 0;
}

int32_t FindUser(const ServerContext& ctx, const Text& address, Text* name) {
    Text found;
    int32_t user = 0;
    Text local = NormalisedLocalPart(address);
    if (local.isEmpty() || (!UserFileExists(ctx) && !HandlesUipExists(ctx))) {
        if (name) *name = found;
        return 0;
    }
    if (IsFileRequest(ctx, local)) {
        bool failed = false;
        user = ctx.settings.AutorespondUser;
        found = TrimmedName(ctx, user, &failed);
        if (failed) {
            user = 1;
            found = TrimmedName(ctx, 1);
        }
        if (name) *name = found;
        return user;
    }
    local = ResolveAlias(ctx, local);
    if (HandlesUipExists(ctx)) {
        const int32_t n = ValLong(ScanHandlesUip(ctx.bbs, local, 0));
        if (n > 0) {
            found = local;
            user = n;
        }
    }
    if (user == 0 && UserFileExists(ctx)) {
        const int32_t n = FindHandle(ctx.bbs, StrReplace(local, ".", " "));
        if (n > 0) {
            found = ScanHandlesUip(ctx.bbs, {}, n);
            if (found.isEmpty()) found = TrimmedName(ctx, n);
            user = n;
        }
    }
    if (user == 0) {
        user = UserNumberOf(ctx, local);
        if (user > 0) found = NumText(user);
    }
    if (user == 0 && (IsSpecial(local, "LISTSERV") || IsSpecial(local, "POSTMASTER"))) {
        found = TrimmedName(ctx, 1);
        user = 1;
    }
    if (name) *name = found;
    return user;
}
