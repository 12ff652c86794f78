#include "tools/mailbase/Tosser.h"

#include "server/bbs/BbsConfig.h"
#include "server/store/Files.h"
#include "tools/mailbase/Installation.h"
#include "tools/mailbase/MailBatch.h"
#include "tools/mailbase/TosserFlag.h"
#include "tools/mailbase/UserTable.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <algorithm>

namespace {

// A batch ends at this many files or bytes, whichever comes first: large
// enough for few writes, small enough to keep memory in bounds.
constexpr int kBatchFiles = 1000;
constexpr qint64 kBatchBytes = 32 * 1024 * 1024;

bool IsHandOffName(const QString& name) {
    return name.size() >= 3 && name.startsWith('V', Qt::CaseInsensitive) && name.endsWith(".D", Qt::CaseInsensitive);
}

long NumberOf(const QString& name) { return name.mid(1, name.size() - 3).toLong(); }

struct Batch {
    QStringList files;
    QList<NewMail> mail;
};

// Reads the next files into mail for their recipients; unreadable ones go to `left`.
Batch ReadBatch(const Installation& in, const UserTable& users, const QStringList& pending, QSet<QString>& left) {
    Batch b;
    qint64 bytes = 0;
    const QDateTime now = QDateTime::currentDateTime();
    for (const QString& name : pending) {
        if (b.files.size() >= kBatchFiles || bytes >= kBatchBytes) break;
        bool ok = false;
        const Text content = ReadFileBytes(PathJoin(in.tmpDir, name), &ok);
        if (!ok) {
            left.insert(name);
            continue;
        }
        bytes += content.size();
        const HandOffMessage message = ParseHandOff(content);
        const int32_t user = users.Recipient(message.to);
        b.files.append(name);
        b.mail.append({MakeEmailRecord(message, user, users.Handle(user), in.localSystem, now), message.body});
    }
    return b;
}

}  // namespace

QStringList PendingHandOffs(const QString& dir, const QSet<QString>& skip) {
    QFileInfoList found = QDir(dir).entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::NoSort);
    found.erase(std::remove_if(found.begin(), found.end(),
                               [&](const QFileInfo& f) {
                                   return !IsHandOffName(f.fileName()) || skip.contains(f.fileName());
                               }),
                found.end());
    std::sort(found.begin(), found.end(), [](const QFileInfo& a, const QFileInfo& b) {
        const qint64 ta = a.lastModified().toMSecsSinceEpoch(), tb = b.lastModified().toMSecsSinceEpoch();
        if (ta != tb) return ta < tb;
        return NumberOf(a.fileName()) != NumberOf(b.fileName()) ? NumberOf(a.fileName()) < NumberOf(b.fileName())
                                                                : a.fileName() < b.fileName();
    });
    QStringList names;
    names.reserve(found.size());
    for (const QFileInfo& f : found) names.append(f.fileName());
    return names;
}

TossReport RunTosser(const QString& mainDir, int node) {
    TossReport report;
    Installation in;
    report.error = LoadInstallation(mainDir, in);
    if (report.error.isEmpty() && !DirExists(in.tmpDir)) report.error = in.tmpDir + " is not a directory";
    if (!report.error.isEmpty()) return report;
    TosserFlag flag;
    switch (flag.Raise(mainDir, node)) {
    case TosserFlag::Result::Held: break;
    case TosserFlag::Result::Busy: report.busy = true; return report;
    case TosserFlag::Result::Failed: report.error = "cannot create the flag in " + mainDir; return report;
    }
    const UserTable users = UserTable::Load(in.bbs);
    QSet<QString> left;
    for (;;) {
        const QStringList pending = PendingHandOffs(in.tmpDir, left);
        if (pending.isEmpty()) break;
        Batch batch = ReadBatch(in, users, pending, left);
        if (batch.files.isEmpty()) continue;
        const QList<int32_t> seq = ReserveSeqNums(in.bbs.DataDir(), int(batch.mail.size()), &report.error);
        if (seq.isEmpty()) break;
        for (qsizetype i = 0; i < batch.mail.size(); ++i) batch.mail[i].record.SeqNum = seq[i];
        if (!WriteMailBatch(in.bbs.MessageDir(), batch.mail, &report.error)) break;
        for (const QString& name : batch.files)
            if (!QFile::remove(PathJoin(in.tmpDir, name))) left.insert(name);
        report.imported += int(batch.files.size());
    }
    flag.Lower();
    report.left = QStringList(left.begin(), left.end());
    report.left.sort();
    return report;
}
