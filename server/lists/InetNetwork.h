#pragma once
// The BBS's Internet network file "NET.9" as its dialogs edit it: the six
// settings lines, the "remote=" lines of the remote systems, and the ten
// fields of one remote entry. Saving goes through a temporary file renamed into place.
#include "server/bbs/BbsConfig.h"

#include <array>

struct InetSettings {
    Text systemId;
    Text netDir;
    int pssIndex = 0;   // 0 = 64 bytes ... 5 = 2048 bytes
    bool allowRefeed = false;
    bool stripHdrs = false;
    Text suffix;
};

QString Net9Path(const BbsConfig& bbs);

// Key of a NET.9 line: before the first "=", trimmed, lower case.
Text NetLineKey(const Text& line);
Text NetLineValue(const Text& line);

InetSettings ReadInetSettings(const TextList& lines);
// The settings lines in their fixed order, then every "remote=" line of
// `oldLines` unchanged; any other old line is dropped.
TextList InetSettingsLines(const InetSettings& s, const TextList& oldLines);
bool SaveInetSettings(const BbsConfig& bbs, const InetSettings& s);

TextList RemoteEntries(const TextList& lines);
// Every other line unchanged, then one "remote=" line per non-empty entry.
TextList RemoteEntryLines(const TextList& oldLines, const TextList& entries);
bool SaveRemoteEntries(const BbsConfig& bbs, const TextList& entries);
Text NewRemoteEntry(const Text& systemId);

// One remote system: fields as shown in the dialog ("-" shows as empty).
struct RemoteEntry {
    Text name, phone, smtpDir, nntpDir, loginWait, loginSend, passwordWait, passwordSend, knowsAs, newsAlias;
    bool defaultNews = false;
    char dialMode = 'N';   // N disabled, L daily/LD, D daily/local, H hourly/local
};
RemoteEntry ParseRemoteEntry(const Text& entry);
Text FormatRemoteEntry(const RemoteEntry& r);
// The remote list's line after the index: name padded to 12, a space, field 3.
Text RemoteListLine(const Text& entry);
// A NET.9 value: trimmed, spaces written "_".
Text NetValue(const Text& typed);
