#pragma once
// The scan: asks the service for the list of one update type and keeps the
// entries that are to be listed.
#include <vector>
#include "updater/CheckUpdate.h"
#include "updater/UpdateAddresses.h"
#include "updater/UpdateService.h"

struct ScanResult {
    std::vector<UpdateEntry> rows;   // the listed entries, in row order
    Text notice;                     // the notice text, lines joined by CR LF
    Text failure;                    // why the check failed; "" when it did not
    bool Found() const { return !rows.empty(); }
};

// The listed entries and the notice for one answer of the service; an empty
// answer is a failed check (`failure` says why), as is one whose entries are
// all malformed.
ScanResult ScanAnswer(const Text& answer, const ScanContext& context, const Text& failure = "no answer");

// Reads the version record afresh, asks the service and reports the result.
void UpdateScan(UpdateService& service, const UpdateAddresses& addresses, int type, const QString& mainDir,
                bool showAll, std::function<void(const ScanResult&)> done);
