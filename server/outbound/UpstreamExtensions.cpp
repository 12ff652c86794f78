#include "server/outbound/UpstreamExtensions.h"

UpstreamExtensions UpstreamExtensions::FromEhloReply(const TextList& lines) {
    UpstreamExtensions e;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        // "250-KEYWORD params" or "250 KEYWORD params"; old servers write "AUTH=LOGIN".
        const TextList words = lines[i].mid(4).toUpper().replace('=', ' ').simplified().split(' ');
        if (words.first() == "STARTTLS") {
            e.startTls = true;
        } else if (words.first() == "AUTH") {
            e.authListed = true;
            e.authLogin = e.authLogin || words.contains("LOGIN");
            e.authPlain = e.authPlain || words.contains("PLAIN");
        }
    }
    return e;
}
