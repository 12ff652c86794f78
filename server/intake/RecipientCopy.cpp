#include "server/intake/RecipientCopy.h"

#include "server/bbs/UserDirectory.h"
#include "server/inbound/Recipients.h"
#include "server/intake/InboundHeaders.h"
#include "server/store/Files.h"
#include "server/store/Headers.h"
#include "server/store/KeyedList.h"

namespace {

Text Dotted(const Text& name) { return Text(name).replace(' ', '.'); }

Text ToAddress(const HeaderView& header) { return LCase(GetPath(header.Value("To"))); }

// The message of a copy, then the tail, each without trailing line ends and
// followed by CR LF.
TextList MessagePieces(const Text& head, const MessageText& message) {
    TextList pieces{head};
    if (message.hasBody) pieces << Text(CRLF) << message.body;
    StripTrailingCrLf(pieces);
    pieces << Text(CRLF);
    TextList tail{message.tail};
    StripTrailingCrLf(tail);
    pieces << tail << Text(CRLF);
    return pieces;
}

}   // namespace

RecipientCopy RewriteRecipient(const ServerContext& ctx, const Text& recipient, const Text& local,
                               const HeaderView& header) {
    RecipientCopy copy{0, header, {}};
    const Text systemId = GetSystemId(ctx.Bbs());

    const Text aliases = GetData("aliases", ctx.KeyedList());
    if (!aliases.isEmpty()) {
        for (const Text& row : Explode(";", aliases)) {
            const TextList columns = Explode(",", row, 2, 2);
            const Text alias = Trim(columns[0]);
            if (LCase(Dotted(alias)) != local) continue;
            copy.userNumber = FindUser(ctx, alias);
            const Text target = Trim(columns[1]);
            const Text name = IsNumeric(target) ? LCase(Dotted(Trim(GetUser(ctx.Bbs(), ValLong(target)).Handle())))
                                                : LCase(Dotted(target));
            copy.header.Set("To", "<" + name + "@" + systemId + ">");
            copy.event = "Aliased recipient changed to: " + ToAddress(copy.header);
            return copy;
        }
    }
    if (const int32_t user = ValLong(ScanHandlesUip(ctx.Bbs(), local, 0)); user > 0) {
        copy.userNumber = user;
        copy.header.Set("To", "<" + recipient + ">");
        return copy;
    }
    if (IsNumeric(local) && On(ctx.Settings().EmailUserNumber) && FileExists(UserFilePath(ctx.Bbs()))) {
        const int32_t user = ValLong(local);
        if (user > 0 && user <= UserCount(ctx.Bbs())) {
            copy.userNumber = user;
            const Text name = LCase(Dotted(Trim(GetUser(ctx.Bbs(), user).Handle())));
            copy.header.Set("To", "<" + name + "@" + systemId + ">");
            copy.event = "Numeric recipient changed to: " + ToAddress(copy.header);
            return copy;
        }
    }
    // Anybody else (the postmaster, a pass-through name, a user known by
    // record name) gets the copy filed for the address the envelope named:
    // the BBS files by the first To line, which the sender wrote.
    if (ToAddress(copy.header) != recipient) copy.header.Set("To", "<" + recipient + ">");
    return copy;
}

TextList HandOffPieces(const ServerContext& ctx, const Text& returnPath, const Text& sendingHost,
                       const HeaderView& header, const MessageText& message) {
    TextList pieces{"Return-Path: <" + Trim(returnPath) + ">" + CRLF,
                    ReceivedHeader(ctx, header.Value("To"), sendingHost)};
    pieces << MessagePieces(header.ToText(), message) << Text(CRLF);
    return pieces;
}

Text ForwardText(const Text& head, const MessageText& message) { return MessagePieces(head, message).join(); }
