#pragma once
// Sender authentication at the intake: with keyed setting "authcheck" = 1
// every received message gets its SPF, DKIM and DMARC checks and an
// Authentication-Results header; "dmarcreject" and "spfreject" turn failures
// into refusals. With "authcheck" = 0 (the default) nothing is looked up.
#include <functional>
#include "server/auth/SenderAuth.h"
#include "server/bbs/ServerContext.h"
#include "server/inbound/MessageSaver.h"

struct SenderVerdict {
    Text header;       // the Authentication-Results header, with its line ends
    Text authservId;   // the name it is written under
    Text refusal;      // the 550 reply when a policy refuses the message, else ""
    Text event;        // the event line of the refusal
};

// The keyed settings of sender authentication, read once per message.
struct AuthSettings {
    bool check = false;         // "authcheck"
    bool dmarcReject = false;   // "dmarcreject"
    bool spfReject = false;     // "spfreject"
};
AuthSettings ReadAuthSettings(const ServerContext& ctx);

// Checks the message when "authcheck" is on; `done` is called later (at once,
// with an empty verdict, when it is off). `auth` is made on first use.
void CheckSender(ServerContext& ctx, std::unique_ptr<SenderAuth>& auth, const ReceivedMessage& message,
                 std::function<void(const SenderVerdict&)> done);

// The policy's judgement of a finished verdict (no look-up).
SenderVerdict JudgeSender(const ServerContext& ctx, const AuthSettings& settings, const ReceivedMessage& message,
                          const AuthVerdict& verdict);
