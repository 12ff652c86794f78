#include "server/intake/SenderChecks.h"

#include "server/address/Recipients.h"
#include "server/intake/MessageText.h"
#include "server/store/Headers.h"
#include "server/store/KeyedList.h"

namespace {

// The first recipient is exempt from filtering (the spam-scan column of
// "filterexemptions" stands for every filter of the message's content).
bool Exempt(const ServerContext& ctx, const ReceivedMessage& message) {
    return CheckFilterExemption(ctx, GetPath(message.recipients), 1);
}

bool DkimPassFor(const AuthVerdict& v, const Text& domain) {
    for (const DkimOutcome& d : v.dkim)
        if (d.result == DkimResult::Pass && (d.domain == domain || domain.endsWith("." + d.domain))) return true;
    return false;
}

bool IsOwnDomain(const ServerContext& ctx, const Text& domain) {
    return !domain.isEmpty() && CheckDomain(ctx, "postmaster@" + domain);
}

}   // namespace

AuthSettings ReadAuthSettings(const ServerContext& ctx) {
    const TextList values = GetDataList({"authcheck", "dmarcreject", "spfreject"}, ctx.KeyedList());
    const auto on = [&](int i) { return Trim(values[i]) == "1"; };
    return AuthSettings{on(0), on(1), on(2)};
}

SenderVerdict JudgeSender(const ServerContext& ctx, const AuthSettings& settings, const ReceivedMessage& message,
                          const AuthVerdict& verdict) {
    SenderVerdict out;
    out.authservId = GetSystemId(ctx.Bbs());
    out.header = AuthenticationResults(out.authservId, verdict);
    if ((!settings.dmarcReject && !settings.spfReject) || Exempt(ctx, message)) return out;

    const Text from = verdict.dmarc.fromDomain;
    if (settings.dmarcReject && verdict.dmarc.result == DmarcResult::Fail &&
        verdict.dmarc.disposition == DmarcPolicy::Reject) {
        out.refusal = "550 5.7.1 Rejected by DMARC policy of " + from + ".";
    } else if (settings.spfReject && verdict.spf == SpfResult::Fail) {
        out.refusal = "550 5.7.1 Rejected by SPF policy of " + verdict.spfDomain + ".";
    } else {
        // The forgery this exists for: a message that claims the BBS's own
        // domain, from a client that neither SPF nor DKIM vouches for.
        const Text claimed = IsOwnDomain(ctx, from)                ? from
                             : IsOwnDomain(ctx, verdict.spfDomain) ? verdict.spfDomain
                                                                   : "";
        const bool vouched =
            (verdict.spf == SpfResult::Pass && IsOwnDomain(ctx, verdict.spfDomain)) || DkimPassFor(verdict, claimed);
        if (!claimed.isEmpty() && !vouched)
            out.refusal = settings.dmarcReject ? "550 5.7.1 Rejected by DMARC policy of " + claimed + "."
                                               : "550 5.7.1 Rejected by SPF policy of " + claimed + ".";
    }
    if (!out.refusal.isEmpty())
        out.event = "Sender authentication failed (" + out.refusal.mid(10) + ") Message refused.";
    return out;
}

void CheckSender(ServerContext& ctx, std::unique_ptr<SenderAuth>& auth, const ReceivedMessage& message,
                 std::function<void(const SenderVerdict&)> done) {
    const AuthSettings settings = ReadAuthSettings(ctx);
    if (!settings.check) {
        done(SenderVerdict{});
        return;
    }
    if (!auth) auth = std::make_unique<SenderAuth>();
    // The bytes the client sent, as the signers signed them: dot-stuffing undone.
    Text text = message.message;
    UndoDotStuffing(text);
    AuthRequest request{text, SpfRequest{message.sendingHost, Trim(message.returnPath), Trim(message.helo)}};
    ServerContext* const c = &ctx;
    auth->Check(request, [c, settings, message, done](const AuthVerdict& verdict) {
        done(JudgeSender(*c, settings, message, verdict));
    });
}
