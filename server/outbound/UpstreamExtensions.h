#pragma once
// What the upstream server's EHLO reply offers that the client uses:
// STARTTLS (RFC 3207) and the AUTH mechanisms (RFC 4954).
#include "server/store/Text.h"

struct UpstreamExtensions {
    bool startTls = false;
    bool authListed = false;   // an AUTH line at all
    bool authLogin = false;
    bool authPlain = false;

    // From the lines of a 250 reply to EHLO (the first names the server).
    static UpstreamExtensions FromEhloReply(const TextList& lines);
};
