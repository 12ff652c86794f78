#pragma once
// The BBS's mailing-list file "LISTSERV.LST" in the Internet spool
// directory: one line per list, its name, its owner ("-" for none) and its
// subscribers, separated by spaces.
#include "server/bbs/BbsConfig.h"

struct MailingList {
    Text name;    // upper case, "-R" at the end for a read-only list
    Text owner;   // "" when none
    TextList subscribers;
};
MailingList ParseMailingList(const Text& line);
Text FormatMailingList(const MailingList& list);

QString ListservPath(const QString& spoolDir);
// The spool directory named by NET.9, or "" when it is not a directory.
QString MailingListSpoolDir(const BbsConfig& bbs);

// The editor's limits.
inline constexpr int kMaxMailingLists = 500;
inline constexpr int kMaxSubscribers = 100;
