#include "tools/mailbase/MailBatch.h"

#include <unistd.h>
#include <QFile>
#include <QThread>
#include <QtEndian>
#include <limits>

namespace {

// Splits an address at its first "@", lower-cased and trimmed.
std::pair<Text, Text> UserAndSystem(const Text& address) {
    const TextList parts = Explode("@", LCase(Trim(address)), 2, 2);
    return {Trim(parts[0]), Trim(parts[1])};
}

// A slow tosser, staged by the tests with ZUUCP_PAUSE_MS: the pause falls
// between taking the body positions and writing, where a writer that does
// not hold the e-mail base's lock would slip in.
void PauseForTests() {
    static const int ms = qEnvironmentVariableIntValue("ZUUCP_PAUSE_MS");
    if (ms > 0) QThread::msleep(ms);
}

// Written and on the disk.
bool WriteDurably(QFile& f, const Text& bytes) {
    return f.write(bytes) == bytes.size() && f.flush() && ::fsync(f.handle()) == 0;
}

}   // namespace

int32_t LocalEpochSeconds(const QDateTime& now) { return int32_t(now.toSecsSinceEpoch() + now.offsetFromUtc()); }

EmailRecord MakeEmailRecord(const HandOffMessage& message, int32_t userNumber, const Text& handle,
                            const Text& localSystem, const QDateTime& now) {
    EmailRecord r;
    const auto [fromUser, fromSystem] = UserAndSystem(message.from);
    r.ToUserNumber = userNumber;
    r.FromUser = fromUser;
    r.FromSystem = fromSystem;
    r.ToUser = handle;
    r.ToSystem = localSystem;
    r.Network = 1;
    r.TimeWritten = LocalEpochSeconds(now);
    r.Subject = message.subject;
    r.DateText = EmailDateText(message.date, now);
    r.ParsedNetwork = 0;
    return r;
}

QList<int32_t> ReserveSeqNums(const QString& dataDir, int count, QString* error) {
    QFile f(dataDir + "/DBSEQ.DAT");
    if (!f.open(QIODevice::ReadWrite)) {
        *error = f.fileName() + ": " + f.errorString();
        return {};
    }
    const Text stored = f.read(4);
    int32_t last = stored.size() == 4 ? qFromLittleEndian<int32_t>(stored.constData()) : 1;
    QList<int32_t> numbers;
    numbers.reserve(count);
    for (int i = 0; i < count; ++i) {
        last = last + 1 >= kSeqNumLimit || last < 0 ? 1 : last + 1;
        numbers.append(last);
    }
    Text out(4, '\0');
    qToLittleEndian<int32_t>(last, out.data());
    if (!f.seek(0) || f.write(out) != 4 || !f.flush()) {
        *error = f.fileName() + ": " + f.errorString();
        return {};
    }
    return numbers;
}

bool WriteMailBatch(const QString& messageDir, QList<NewMail>& batch, QString* error) {
    QFile bin(EmailBinPath(messageDir));
    if (!bin.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = bin.fileName() + ": " + bin.errorString();
        return false;
    }
    qint64 position = bin.size() + 1;
    Text bodies;
    for (NewMail& m : batch) {
        if (position + m.body.size() > std::numeric_limits<int32_t>::max()) {
            *error = bin.fileName() + " cannot grow beyond 2 GB";
            return false;
        }
        m.record.BodyPosition = int32_t(position);
        m.record.BodyLength = int32_t(m.body.size());
        bodies += m.body;
        bodies += CRLF;
        position += m.body.size() + 2;
    }
    PauseForTests();
    if (!WriteDurably(bin, bodies)) {
        *error = bin.fileName() + ": " + bin.errorString();
        return false;
    }
    Text records;
    records.reserve(batch.size() * kEmailRecordSize);
    for (const NewMail& m : batch) records += EncodeEmailRecord(m.record);
    QFile dat(EmailDatPath(messageDir));
    // A torn last record (a crash of some writer) is overwritten, not followed.
    if (!dat.open(QIODevice::ReadWrite) || !dat.seek(dat.size() / kEmailRecordSize * kEmailRecordSize) ||
        !WriteDurably(dat, records)) {
        *error = dat.fileName() + ": " + dat.errorString();
        return false;
    }
    return true;
}
