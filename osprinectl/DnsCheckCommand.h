#pragma once
// osprinectl dnscheck: what receivers find in DNS about the BBS's mail, one
// line per item (MX, SPF, the DKIM key, DMARC), pass, fail or missing.
#include <QStringList>
#include "osprinectl/Installation.h"

int RunDnsCheck(const Installation& installation, const QStringList& arguments);
extern const char* const kDnsCheckHelp;
