// Learning a recipient address as a user's handle (setting AutoVerify).
#include "server/address/Recipients.h"
#include "server/bbs/ByteScan.h"
#include "server/bbs/UserDirectory.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

namespace {

constexpr const char* kModule = "modOSPRINE";

// A handle that would break the index's line and column layout.
bool UnfitForIndex(const Text& handle) {
    return handle.contains(',') || handle.contains('\r') || handle.contains('\n') || handle.contains('\0');
}

}   // namespace

void AddVerifiedUser(const ServerContext& ctx, int32_t userNumber, const Text& address) {
    if (Trim(Explode("@", address, 2, 2)[0]).isEmpty() || userNumber < 1) return;
    // Only a user the nightly rebuild lists is learned, under the name the
    // rebuild writes: a locked-out user (level below 1) stays unreachable,
    // and nothing the client typed goes into the index.
    const UserRecord user = GetUser(ctx.Bbs(), userNumber);
    if (!user.IsListed()) return;
    const Text local = StrReplace(LCase(user.Handle()), " ", ".");
    if (UnfitForIndex(local)) return;
    const Text systemId = Trim(GetNetEntry(ctx.Bbs(), 1, "SYSTEMID"));
    const QString path = HandlesUipPath(ctx.Bbs());
    Text content;
    if (!FileExists(path)) {
        content = "system-daemon,SYSTEM-DAEMON," + systemId + ",1" + CRLF;
    } else {
        // Every line of the user goes; the others stay in their order.
        // An index that cannot be read is kept rather than replaced by one line.
        const std::optional<Text> index = ReadListFile(path, "AddVerifiedUser", kModule);
        if (!index) return;
        content.reserve(index->size() + local.size() + 64);
        ForEachLine(ByteView(*index), LineEnds::Any, [&](std::string_view line) {
            const Text text = ViewText(line);
            if (ValLong(Trim(Explode(",", text, 4, 2)[1])) != userNumber) content += text + CRLF;
            return true;
        });
    }
    content += local + "," + NumText(userNumber) + "," + systemId + ",1" + CRLF;
    // The BBS reads the index at any time: it never sees a half-written file.
    if (!WriteFileAtomic(path, content, kSharedFile))
        LogError("AddVerifiedUser", kVersion, kModule, "Cannot write " + TextFromPath(path));
}
