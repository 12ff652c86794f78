#include "updater/UpdateScan.h"
#include "updater/VersionRecord.h"

ScanResult ScanAnswer(const Text& answer, const ScanContext& context) {
    ScanResult result;
    if (answer.isEmpty()) {
        result.notice = kNoticeError;
        return result;
    }
    for (const Text& raw : SplitEntries(answer))
        if (auto entry = CheckUpdate(raw, context)) result.rows.push_back(std::move(*entry));
    if (!result.Found())
        result.notice = kNoticeNone;
    else
        result.notice = context.showAll ? kNoticeShowAll : kNoticeFound;
    return result;
}

void UpdateScan(UpdateService& service, const UpdateAddresses& addresses, int type, const QString& mainDir,
                bool showAll, std::function<void(const ScanResult&)> done) {
    service.GetUpdateInfo(addresses.UpdateListUrl(type), [mainDir, showAll, done](const Text& answer) {
        const ScanContext context{mainDir, ReadVersionRecord(mainDir), showAll};
        done(ScanAnswer(answer, context));
    });
}
