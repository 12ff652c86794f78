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
    bool Found() const { return !rows.empty(); }
};

// The listed entries and the notice for one answer of the service.
ScanResult ScanAnswer(const Text& answer, const ScanContext& context);

// Reads the version record afresh, asks the service and reports the result.
void UpdateScan(UpdateService& service, const UpdateAddresses& addresses, int type, const QString& mainDir,
                bool showAll, std::function<void(const ScanResult&)> done);
