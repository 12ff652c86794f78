#include "server/bbs/EmailRecord.h"

#include "server/store/DurableFile.h"
#include "server/store/ErrorLog.h"
#include "server/store/Version.h"

#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <limits>

namespace {

void PutInt32(Text& b, int off, int32_t v) { qToLittleEndian<int32_t>(v, b.data() + off); }
void PutInt16(Text& b, int off, int16_t v) { qToLittleEndian<int16_t>(v, b.data() + off); }
void PutText(Text& b, int off, int size, const Text& v) {
    for (int i = 0; i < size; ++i) b[off + i] = i < v.size() ? v[i] : ' ';
}
int32_t GetInt32(const Text& b, int off) { return qFromLittleEndian<int32_t>(b.constData() + off); }
int16_t GetInt16(const Text& b, int off) { return qFromLittleEndian<int16_t>(b.constData() + off); }
Text GetText(const Text& b, int off, int size) { return Trim(b.mid(off, size)); }

void Fault(const char* procedure, const QString& what) { LogError(procedure, kVersion, "modZARV", what.toLocal8Bit()); }

// Reads `size` bytes at `offset`; fewer when the file is shorter.
Text ReadAt(const QString& path, qint64 offset, qint64 size) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset)) return {};
    return f.read(size);
}

}   // namespace

Text EncodeEmailRecord(const EmailRecord& r) {
    Text b(kEmailRecordSize, '\0');
    PutInt32(b, 0, r.Reserved0);
    PutInt32(b, 4, r.ToUserNumber);
    PutText(b, 8, 40, r.FromUser);
    PutText(b, 48, 40, r.ToUser);
    PutText(b, 88, 80, r.FromSystem);
    PutText(b, 168, 80, r.ToSystem);
    PutInt16(b, 248, r.Kind);
    PutInt16(b, 250, r.Network);
    PutInt32(b, 252, r.TimeWritten);
    PutInt32(b, 256, r.SeqNum);
    PutInt32(b, 260, r.Reserved260);
    PutInt32(b, 264, r.Reserved264);
    PutText(b, 268, 64, r.Subject);
    PutInt16(b, 332, r.Reserved332);
    PutText(b, 334, 40, r.DateText);
    PutInt32(b, 374, r.Reserved374);
    PutInt32(b, 378, r.Reserved378);
    PutText(b, 382, 12, r.Text382);
    PutText(b, 394, 64, r.Text394);
    for (int i = 0; i < 12; ++i) b[458 + i] = i < r.Zero458.size() ? r.Zero458[i] : '\0';
    PutText(b, 470, 8, r.BaseName);
    PutInt32(b, 478, r.BodyPosition);
    PutInt32(b, 482, r.BodyLength);
    PutInt16(b, 486, r.ParsedNetwork);
    PutInt16(b, 488, r.Reserved488);
    PutInt32(b, 490, r.Reserved490);
    PutText(b, 494, 24, r.Text494);
    PutText(b, 518, 64, r.Text518);
    return b;
}

bool DecodeEmailRecord(const Text& b, EmailRecord& r) {
    if (b.size() < kEmailRecordSize) return false;
    r.Reserved0 = GetInt32(b, 0);
    r.ToUserNumber = GetInt32(b, 4);
    r.FromUser = GetText(b, 8, 40);
    r.ToUser = GetText(b, 48, 40);
    r.FromSystem = GetText(b, 88, 80);
    r.ToSystem = GetText(b, 168, 80);
    r.Kind = GetInt16(b, 248);
    r.Network = GetInt16(b, 250);
    r.TimeWritten = GetInt32(b, 252);
    r.SeqNum = GetInt32(b, 256);
    r.Reserved260 = GetInt32(b, 260);
    r.Reserved264 = GetInt32(b, 264);
    r.Subject = GetText(b, 268, 64);
    r.Reserved332 = GetInt16(b, 332);
    r.DateText = GetText(b, 334, 40);
    r.Reserved374 = GetInt32(b, 374);
    r.Reserved378 = GetInt32(b, 378);
    r.Text382 = GetText(b, 382, 12);
    r.Text394 = GetText(b, 394, 64);
    r.Zero458 = b.mid(458, 12);
    r.BaseName = GetText(b, 470, 8);
    r.BodyPosition = GetInt32(b, 478);
    r.BodyLength = GetInt32(b, 482);
    r.ParsedNetwork = GetInt16(b, 486);
    r.Reserved488 = GetInt16(b, 488);
    r.Reserved490 = GetInt32(b, 490);
    r.Text494 = GetText(b, 494, 24);
    r.Text518 = GetText(b, 518, 64);
    return true;
}

QString EmailDatPath(const QString& messageDir) { return messageDir + "/EMAIL.DAT"; }
QString EmailBinPath(const QString& messageDir) { return messageDir + "/EMAIL.BIN"; }
QString SpoolNetPath(const QString& dataDir) { return dataDir + "/SPOOL.NET"; }

bool AppendToEmailBase(const QString& messageDir, EmailRecord& record, const Text& body) {
    const QString bin = EmailBinPath(messageDir);
    const QString dat = EmailDatPath(messageDir);
    QString error;
    qint64 start = 0;
    // Body positions are 32-bit: the body file may not grow past them.
    if (!AppendDurably(bin, body + CRLF, &start, &error, kEmailBinLimit)) {
        Fault("WriteMessage", error);
        return false;
    }
    record.BodyPosition = int32_t(start + 1);
    record.BodyLength = int32_t(body.size());
    // A torn last record (a crash of some writer) is overwritten, not followed.
    const qint64 next = QFile(dat).size() / kEmailRecordSize * kEmailRecordSize;
    if (!WriteDurablyAt(dat, next, EncodeEmailRecord(record), &error)) {
        Fault("WriteMessage", error);
        CutBackDurably(bin, start);   // the body of a message that is not filed
        return false;
    }
    return true;
}

bool AppendToSpoolNet(const QString& dataDir, EmailRecord& record, const Text& body) {
    if (body.size() > kEmailBinLimit) return false;
    record.BodyLength = int32_t(body.size());
    QString error;
    if (AppendDurably(SpoolNetPath(dataDir), EncodeEmailRecord(record) + body, nullptr, &error)) return true;
    Fault("WriteMessage", error);
    return false;
}

QList<EmailEntry> ReadEmailBase(const QString& messageDir) {
    QList<EmailEntry> out;
    const Text dat = ReadAt(EmailDatPath(messageDir), 0, QFile(EmailDatPath(messageDir)).size());
    QFile bin(EmailBinPath(messageDir));
    const bool haveBin = bin.open(QIODevice::ReadOnly);
    const qint64 binSize = haveBin ? bin.size() : 0;
    for (qsizetype at = 0; at + kEmailRecordSize <= dat.size(); at += kEmailRecordSize) {
        EmailEntry e;
        DecodeEmailRecord(dat.mid(at, kEmailRecordSize), e.record);
        // A damaged record may state any position and length: only what the
        // body file holds is read, never a buffer of the stated size.
        const qint64 from = qint64(e.record.BodyPosition) - 1;
        const qint64 length = std::min<qint64>(e.record.BodyLength, binSize - from);
        if (from >= 0 && length > 0 && bin.seek(from)) e.body = bin.read(length);
        out.append(e);
    }
    return out;
}

QList<EmailEntry> ReadSpoolNet(const QString& dataDir) {
    QList<EmailEntry> out;
    const QString path = SpoolNetPath(dataDir);
    const Text all = ReadAt(path, 0, QFile(path).size());
    qsizetype at = 0;
    while (at + kEmailRecordSize <= all.size()) {
        EmailEntry e;
        DecodeEmailRecord(all.mid(at, kEmailRecordSize), e.record);
        at += kEmailRecordSize;
        const qsizetype length = std::clamp<qsizetype>(e.record.BodyLength, 0, all.size() - at);
        e.body = all.mid(at, length);
        at += length;
        out.append(e);
    }
    return out;
}

int32_t GetSeqNum(const QString& dataDir, bool* failed) {
    if (failed) *failed = false;
    const QString path = dataDir + "/DBSEQ.DAT";
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite)) {
        Fault("GetSeqNum", path + ": " + f.errorString());
        if (failed) *failed = true;
        return 0;
    }
    Text stored = f.read(4);
    f.close();
    if (stored.size() < 4) stored = Text("\x01\0\0\0", 4);
    // Counted wide, so that a damaged stored value cannot overflow.
    int64_t next = int64_t(qFromLittleEndian<int32_t>(stored.constData())) + 1;
    if (next >= kSeqNumLimit || next < 1) next = 1;
    Text out(4, '\0');
    qToLittleEndian<int32_t>(int32_t(next), out.data());
    QString error;
    if (!WriteDurablyAt(path, 0, out, &error)) {
        Fault("GetSeqNum", error);
        if (failed) *failed = true;
    }
    return int32_t(next);
}

void GetStatZrbsDat(const QString& dataDir, StatZrbsRecord& record, bool* failed) {
    if (failed) *failed = false;
    const QString path = dataDir + "/STATZRBS.DAT";
    if (!QFile::exists(path)) return;   // a new file reads as zeros
    const Text b = ReadAt(path, 0, kStatZrbsRecordSize);
    if (b.size() < kStatZrbsRecordSize) {
        Fault("GetStatZrbsDat", path + ": short record");
        if (failed) *failed = true;
        return;
    }
    for (int i = 0; i < kStatZrbsRecordSize / 4; ++i) record.values[i] = GetInt32(b, i * 4);
}

void PutStatZrbsDat(const QString& dataDir, const StatZrbsRecord& record, bool* failed) {
    Text b(kStatZrbsRecordSize, '\0');
    for (int i = 0; i < kStatZrbsRecordSize / 4; ++i) PutInt32(b, i * 4, record.values[i]);
    QString error;
    const bool ok = WriteDurablyAt(dataDir + "/STATZRBS.DAT", 0, b, &error);
    if (!ok) Fault("PutStatZrbsDat", error);
    if (failed) *failed = !ok;
}

bool CountEmailWritten(const QString& dataDir) {
    StatZrbsRecord r;
    bool failed = false;
    GetStatZrbsDat(dataDir, r, &failed);
    if (failed) return false;   // never overwrite counters we could not read
    // The counters stop at their largest value rather than overflow.
    for (const int offset : {68, 72})
        if (r.AtOffset(offset) < std::numeric_limits<int32_t>::max()) r.AtOffset(offset) += 1;
    PutStatZrbsDat(dataDir, r, &failed);
    return !failed;
}
