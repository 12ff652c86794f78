#pragma once
// The BBS's network configuration text files of a test installation, lines
// ended by CR LF, keys in lower case as the BBS's configuration program
// writes them.
#include "server/store/Text.h"

// "NET.1": the BBS's own network; its numeric system id goes into the
// handle index and into the e-mail records as the local system.
Text Net1Text(const Text& netDir);
// "NET.4": the network whose NETDIR holds "MAGIC.FID" and "HANDLES.FID".
Text Net4Text(const Text& netDir);
// "NET.9": the Internet network, with one remote system whose third field
// names the outbound queue directory (";" the news directory).
Text Net9Text(const Text& systemId, const Text& spoolDir, const Text& queueDir, const Text& newsDir);
// "NETWORKS.LST": number, name, tag, access flags a user needs ("I" for the Internet).
Text NetworksListText();

// "LISTSERV.LST" (spool directory): list name, owner, members.
Text ListServText(const Text& systemId);
// "AUTORESP.CFG" (main directory): name, description.
Text AutoRespText();

inline constexpr const char* kNet1SystemId = "1";
inline constexpr const char* kInternetFlag = "I";
