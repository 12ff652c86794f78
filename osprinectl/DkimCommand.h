#pragma once
// osprinectl dkim keygen: a new DKIM key, the settings that sign with it,
// and the TXT record to publish.
#include <QStringList>
#include "osprinectl/Installation.h"

int RunDkim(const Installation& installation, const QStringList& arguments);
extern const char* const kDkimHelp;

// A TXT record's text as DNS zone files take it: quoted strings of at most
// 255 bytes each, separated by blanks.
Text TxtStrings(const Text& text);
