#include "updater/UpdateScan.h"
#include "updater/ErrorLog.h"

// A hostile answer may hold a million bad entries; the log records the first few.
static constexpr int kMaxLoggedFaults = 10;

ScanResult ScanAnswer(const Text& answer, const ScanContext& context, const Text& failure) {
    ScanResult result;
    if (answer.isEmpty()) {
        result.notice = kNoticeError;
        result.failure = failure;
        return result;
    }
    int faults = 0, entries = 0;
    for (const Text& raw : SplitEntries(answer)) {
        Text fault;
        if (!raw.trimmed().isEmpty()) ++entries;
        if (auto entry = CheckUpdate(raw, context, &fault)) result.rows.push_back(std::move(*entry));
        if (!fault.isEmpty() && ++faults <= kMaxLoggedFaults)
            LogError("CheckUpdate", kZrvVersion, kModZRVUpdate, fault);
    }
    if (entries > 0 && faults == entries) {
        result.notice = kNoticeError;
        result.failure = "malformed answer (" + Text::number(faults) + " invalid entries)";
    } else if (!result.Found())
        result.notice = kNoticeNone;
    else
        result.notice = context.showAll ? kNoticeShowAll : kNoticeFound;
    return result;
}

void UpdateScan(UpdateService& service, const UpdateAddresses& addresses, int type, const QString& mainDir,
                bool showAll, std::function<void(const ScanResult&)> done) {
    service.GetUpdateInfo(addresses.UpdateListUrl(type), [&service, mainDir, showAll, done](const Text& answer) {
        done(ScanAnswer(answer, ScanContext::Read(mainDir, showAll), service.LastFailure()));
    });
}
