#pragma once
// Recipient resolution: who may receive mail on this BBS and whom an address
// stands for. Every call reads the keyed list file, the user file, the handle
// index and the network lists afresh, so an edit counts on the next command.
// Addresses come without angle brackets; they are split at the first "@".
#include "server/bbs/ServerContext.h"
#include "server/store/Text.h"

// The local part, trimmed, with every space replaced by ".".
Text NormalisedLocalPart(const Text& address);
// The text after the first "@" of the trimmed address, or "".
Text GetAddressDomain(const Text& address);

// The domain is the Internet system id (while "NET.9" exists) or a row of "domains".
bool CheckDomain(const ServerContext& ctx, const Text& address);
// The local part names somebody who can receive mail here: the special
// names, an alias, a handle of "HANDLES.UIP", or a user number.
bool CheckTo(const ServerContext& ctx, const Text& address);
// The user number the address stands for (0: nobody); *name receives the
// name to file the mail under.
int32_t FindUser(const ServerContext& ctx, const Text& address, Text* name = nullptr);
// The local part is a row of "passthru".
bool CheckPassThru(const ServerContext& ctx, const Text& address);
// The user may use the Internet network (flags of network 9 in "NETWORKS.LST").
bool CheckUserFlags(const ServerContext& ctx, int32_t userNumber);
// The forward address of the user from "mailforwarding", lower-cased, or "".
Text CheckForwarding(const ServerContext& ctx, int32_t userNumber);
// The recipient is exempt from the filter of `column` (1 spam scan,
// 2 header filter, 3 subject filter, 4 to 10 reserved).
bool CheckFilterExemption(const ServerContext& ctx, const Text& address, int column);
// The list exists in "LISTSERV.LST"; `members` receives its member addresses,
// trimmed and lower-cased, the first member at index 0.
bool FindMaillist(const ServerContext& ctx, const Text& listName, TextList& members);
// Makes the user's handle, written as the nightly rebuild writes it, the one
// handle line of the user in "HANDLES.UIP", replacing every line the user
// had; nothing for a user the rebuild would leave out.
void AddVerifiedUser(const ServerContext& ctx, int32_t userNumber, const Text& address);
// The "passthru" rows to add to the handle index: name "," user number, joined by ";".
Text CreatePassThruString(const ServerContext& ctx);

// The placeholder domain of a new row in the domains editor; never local.
inline constexpr const char* kNewDomainPlaceholder = "new.domain";
