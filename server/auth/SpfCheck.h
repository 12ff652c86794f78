#pragma once
// The SPF check of one transaction (RFC 7208 check_host): may the client's
// address send mail for the domain? Every look-up goes through CachedDns,
// so the loop never waits; the answer comes through a callback.
#include <functional>
#include "server/auth/CachedDns.h"

enum class SpfResult { None, Neutral, Pass, Fail, SoftFail, TempError, PermError };

// The result's name as Authentication-Results writes it ("pass", "softfail", ...).
Text SpfResultName(SpfResult result);

struct SpfRequest {
    Text clientIp;   // dotted quad or IPv6 text
    Text sender;     // the MAIL FROM address; "" for the null reverse path
    Text helo;       // the HELO or EHLO name
};

// The domain the check is about: the sender's, else the HELO name's.
Text SpfDomain(const SpfRequest& request);

// Runs check_host; `done` is called once, always later than the call.
void CheckSpf(CachedDns& dns, const SpfRequest& request, std::function<void(SpfResult)> done);

// The limits of RFC 7208 section 4.6.4.
inline constexpr int kSpfMaxLookups = 10;
inline constexpr int kSpfMaxVoidLookups = 2;
inline constexpr int kSpfMaxNames = 10;   // MX exchanges or PTR names looked at per mechanism
