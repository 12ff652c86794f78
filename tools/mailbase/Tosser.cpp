#include "tools/mailbase/Tosser.h"

#include "server/bbs/BbsConfig.h"
#include "server/bbs/EmailBaseLock.h"
#include "server/store/Files.h"
#include "tools/mailbase/HandOffDir.h"
#include "tools/mailbase/Installation.h"
#include "tools/mailbase/MailBatch.h"
#include "tools/mailbase/TosserFlag.h"
#include "tools/mailbase/UserTable.h"

#include <QSet>

namespace {

// A batch ends at this many files or bytes, whichever comes first: large
// enough for few writes, small enough to keep memory in bounds.
constexpr int kBatchFiles = 1000;
constexpr qint64 kBatchBytes = 32 * 1024 * 1024;
// Far above the largest message the server accepts; a larger file is left
// where it is and reported rather than read into memory.
constexpr qint64 kLargestHandOff = 256 * 1024 * 1024;

struct Batch {
    QStringList files;
    QList<NewMail> mail;
};

// Reads the files from pending[next] on into mail for their recipients and
// advances next; unreadable ones go to `left`.
Batch ReadBatch(const Installation& in, const UserTable& users, const QStringList& pending, qsizetype& next,
                QSet<QString>& left) {
    Batch b;
    qint64 bytes = 0;
    const QDateTime now = QDateTime::currentDateTime();
    for (; next < pending.size() && b.files.size() < kBatchFiles && bytes < kBatchBytes; ++next) {
        const QString& name = pending[next];
        Text content;
        if (!ReadWholeFile(PathJoin(in.tmpDir, name), content, kLargestHandOff)) {
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

// The BBS's counters of e-mails written, at offsets 68 and 72 of its
// statistics record; counters that cannot be read are left alone.
void CountEmailsWritten(const QString& dataDir, int32_t count) {
    StatZrbsRecord r;
    bool failed = false;
    GetStatZrbsDat(dataDir, r, &failed);
    if (failed) return;
    r.AtOffset(68) += count;
    r.AtOffset(72) += count;
    PutStatZrbsDat(dataDir, r, &failed);
}

// Files the batch and removes its hand-off files; the number filed.
int FileBatch(const Installation& in, Batch batch, QSet<QString>& left, QString& error) {
    if (batch.files.isEmpty()) return 0;
    // The server forwards into the same base: numbers, positions and slots
    // are taken under the one lock. Busy: the files wait for the next run.
    const EmailBaseLock lock(in.bbs.MessageDir());
    if (!lock.Held()) {
        error = lock.Error() + "; the files wait for the next run";
        return 0;
    }
    const QList<int32_t> seq = ReserveSeqNums(in.bbs.DataDir(), int(batch.mail.size()), &error);
    if (seq.isEmpty()) return 0;
    for (qsizetype i = 0; i < batch.mail.size(); ++i) batch.mail[i].record.SeqNum = seq[i];
    if (!WriteMailBatch(in.bbs.MessageDir(), batch.mail, &error)) return 0;
    CountEmailsWritten(in.bbs.DataDir(), int32_t(batch.mail.size()));
    for (const QString& name : batch.files)
        if (!RemoveHandOff(PathJoin(in.tmpDir, name))) left.insert(name);
    return int(batch.files.size());
}

}   // namespace

TossReport RunTosser(const QString& mainDir, int node) {
    TossReport report;
    Installation in;
    report.error = LoadInstallation(mainDir, in);
    if (report.error.isEmpty() && !DirExists(in.tmpDir)) report.error = in.tmpDir + " is not a directory";
    if (!report.error.isEmpty()) return report;
    TosserFlag flag;
    switch (flag.Raise(mainDir, node)) {
    case TosserFlag::Result::Held:
        break;
    case TosserFlag::Result::Busy:
        report.busy = true;
        return report;
    case TosserFlag::Result::Failed:
        report.error = "cannot create the flag in " + mainDir;
        return report;
    }
    const UserTable users = UserTable::Load(in.bbs);
    QSet<QString> left;
    // The directory is listed again once the files of the last listing are
    // filed: that catches every file that arrived meanwhile.
    while (report.error.isEmpty()) {
        const QStringList pending = PendingHandOffs(in.tmpDir, left);
        if (pending.isEmpty()) break;
        for (qsizetype next = 0; next < pending.size() && report.error.isEmpty();)
            report.imported += FileBatch(in, ReadBatch(in, users, pending, next, left), left, report.error);
    }
    flag.Lower();
    report.left = QStringList(left.begin(), left.end());
    report.left.sort();
    return report;
}
