#include "updater/ConsoleUpdate.h"
#include <QDate>
#include <QTimer>
#include <cstdio>
#include "updater/ErrorLog.h"
#include "updater/VersionRecord.h"

Text ConsoleRow(const UpdateEntry& entry) {
    return entry.program + '\t' + entry.VersionColumn() + '\t' + entry.description + '\t' + entry.fileName + '\t' +
           entry.SizeText() + '\t' + entry.md5 + '\n';
}

ConsoleUpdate::ConsoleUpdate(const UpdateAddresses& addresses, QIODevice& output, QObject* parent)
    : QObject(parent), addresses_(addresses), output_(output) {}

void ConsoleUpdate::Start(const QStringList& arguments, const QString& workDir) {
    options_ = ReadStartOptions(arguments);
    const auto mainDir = PrepareInstallation(workDir);
    if (!mainDir) {   // not in a BBS directory: end without a word
        QTimer::singleShot(0, this, [this] { emit Ended(0); });
        return;
    }
    mainDir_ = *mainDir;
    UpdateScan(service_, addresses_, ResolveUpdateType(options_, mainDir_), mainDir_, false,
               [this](const ScanResult& result) { ShowScanResult(result); });
}

// A check that failed says why on standard error and ends with status 1, so
// that a scheduled check is seen to fail.
void ConsoleUpdate::ShowScanResult(const ScanResult& result) {
    if (!result.failure.isEmpty()) {
        Text notice = result.notice;
        output_.write(notice.replace("\r\n", "\n") + '\n');
        std::fprintf(stderr, "ZRVUpdate: the update check failed: %s\n", result.failure.constData());
        emit Ended(1);
        return;
    }
    if (result.Found()) {
        if (!WriteCheckDate(mainDir_, QDate::currentDate()))
            LogError("Form_Load", kZrvVersion, kFrmMain, "Cannot write the version record ZRVDATA.DAT");
    } else if (options_.quiet) {   // a quiet check with nothing new says nothing
        emit Ended(0);
        return;
    }
    for (const UpdateEntry& entry : result.rows) output_.write(ConsoleRow(entry));
    Text notice = result.notice;
    output_.write(notice.replace("\r\n", "\n") + '\n');
    emit Ended(0);
}
