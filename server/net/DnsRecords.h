#pragma once
// The records of a raw DNS answer, as clsIPResolve::Lookup hands them on.
#include "server/net/IPResolve.h"

// `status` is the c-ares status of the query; `abuf` the answer it received.
DnsAnswer ReadDnsAnswer(int status, DnsType type, const unsigned char* abuf, int alen);
