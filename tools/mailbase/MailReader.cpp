#include "tools/mailbase/MailReader.h"

#include <QFile>

namespace {

constexpr int kRecordsPerRead = 4096;

Text BodyOf(QFile& bin, const EmailRecord& r) {
    const qint64 start = qint64(r.BodyPosition) - 1;
    if (start < 0 || r.BodyLength <= 0 || start + r.BodyLength > bin.size() || !bin.seek(start)) return {};
    return bin.read(r.BodyLength);
}

}   // namespace

QList<EmailEntry> ReadUserMail(const QString& messageDir, int32_t userNumber, bool withBodies) {
    QList<EmailEntry> mail;
    QFile dat(EmailDatPath(messageDir));
    if (!dat.open(QIODevice::ReadOnly)) return mail;
    QFile bin(EmailBinPath(messageDir));
    if (withBodies && !bin.open(QIODevice::ReadOnly)) withBodies = false;
    for (;;) {
        const Text chunk = dat.read(qint64(kRecordsPerRead) * kEmailRecordSize);
        for (qsizetype at = 0; at + kEmailRecordSize <= chunk.size(); at += kEmailRecordSize) {
            EmailEntry e;
            DecodeEmailRecord(chunk.mid(at, kEmailRecordSize), e.record);
            if (e.record.ToUserNumber != userNumber) continue;
            if (withBodies) e.body = BodyOf(bin, e.record);
            mail.append(e);
        }
        if (chunk.size() < qint64(kRecordsPerRead) * kEmailRecordSize) break;
    }
    return mail;
}
