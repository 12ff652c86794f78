#pragma once
// The BBS e-mail base: the 582-byte e-mail record shared by "EMAIL.DAT" and
// "SPOOL.NET", the bodies in "EMAIL.BIN", the sequence counter "DBSEQ.DAT"
// and the statistics record "STATZRBS.DAT".
#include <QList>
#include <QString>
#include <cstdint>
#include "server/store/Text.h"

inline constexpr int kEmailRecordSize = 582;
inline constexpr int kStatZrbsRecordSize = 88;
inline constexpr int32_t kSeqNumLimit = 4000000;
// The longest "EMAIL.BIN": body positions in the records are 32-bit.
inline constexpr qint64 kEmailBinLimit = 0x7fffffff;

// Every field of the record, in file order. Text fields are trimmed when read
// and space-filled (or cut) when written; the fields this server always writes
// as zero or empty are kept so that a record read from the BBS survives a
// round trip unchanged.
struct EmailRecord {
    int32_t Reserved0 = 0;                       //   0
    int32_t ToUserNumber = 0;                    //   4
    Text FromUser;                               //   8, 40
    Text ToUser;                                 //  48, 40
    Text FromSystem;                             //  88, 80
    Text ToSystem;                               // 168, 80
    int16_t Kind = 9;                            // 248
    int16_t Network = 1;                         // 250: 1 for the local BBS
    int32_t TimeWritten = 0;                     // 252: local seconds since 1970
    int32_t SeqNum = 0;                          // 256
    int32_t Reserved260 = 0;                     // 260
    int32_t Reserved264 = 0;                     // 264
    Text Subject;                                // 268, 64
    int16_t Reserved332 = 0;                     // 332
    Text DateText;                               // 334, 40
    int32_t Reserved374 = 0;                     // 374
    int32_t Reserved378 = 0;                     // 378
    Text Text382;                                // 382, 12
    Text Text394;                                // 394, 64
    QByteArray Zero458 = QByteArray(12, '\0');   // 458, 12 raw bytes
    Text BaseName = "EMAIL";                     // 470, 8
    int32_t BodyPosition = 0;                    // 478: 1-based offset in EMAIL.BIN, 0 in the spool
    int32_t BodyLength = 0;                      // 482
    int16_t ParsedNetwork = 0;                   // 486: 0 for the local BBS
    int16_t Reserved488 = 0;                     // 488
    int32_t Reserved490 = 0;                     // 490
    Text Text494;                                // 494, 24
    Text Text518;                                // 518, 64
};

Text EncodeEmailRecord(const EmailRecord& r);
// Needs kEmailRecordSize bytes; returns false (record untouched) otherwise.
bool DecodeEmailRecord(const Text& bytes, EmailRecord& r);

// One message of the e-mail base or the spool: its record and its body.
struct EmailEntry {
    EmailRecord record;
    Text body;
};

QString EmailDatPath(const QString& messageDir);
QString EmailBinPath(const QString& messageDir);
QString SpoolNetPath(const QString& dataDir);

// Files a message into the local e-mail base: the body and CR LF are appended
// to "EMAIL.BIN" and synced first, then the record (with BodyPosition and
// BodyLength set here) is written and synced as the next record of
// "EMAIL.DAT". On a fault both files are left as they were. The caller holds
// the EmailBaseLock.
bool AppendToEmailBase(const QString& messageDir, EmailRecord& record, const Text& body);
// Appends record and body (BodyLength set here) to "SPOOL.NET" in one
// synced write; on a fault the file is cut back as it was.
bool AppendToSpoolNet(const QString& dataDir, EmailRecord& record, const Text& body);

// Readers for the BBS side and for checks: every complete entry in order.
QList<EmailEntry> ReadEmailBase(const QString& messageDir);
QList<EmailEntry> ReadSpoolNet(const QString& dataDir);

// The next number of "DBSEQ.DAT" (created when missing); after 3999999 comes 1.
// `failed` is set when the file cannot be used.
int32_t GetSeqNum(const QString& dataDir, bool* failed = nullptr);

// Record 1 of "STATZRBS.DAT": 22 little-endian 32-bit integers.
struct StatZrbsRecord {
    int32_t values[kStatZrbsRecordSize / 4] = {};
    int32_t& AtOffset(int offset) { return values[offset / 4]; }
};
void GetStatZrbsDat(const QString& dataDir, StatZrbsRecord& record, bool* failed = nullptr);
void PutStatZrbsDat(const QString& dataDir, const StatZrbsRecord& record, bool* failed = nullptr);
// Adds one to the e-mail counters at offsets 68 and 72.
bool CountEmailWritten(const QString& dataDir);
