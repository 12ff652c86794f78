#pragma once
// Files many messages into the BBS e-mail base at once: one append of all
// bodies to "EMAIL.BIN", then one write of all records to "EMAIL.DAT".
#include <QList>
#include <QString>
#include "server/bbs/EmailRecord.h"
#include "tools/mailbase/HandOffMessage.h"

struct NewMail {
    EmailRecord record;
    Text body;
};

// The record of a hand-off message for user `userNumber` (`handle`) of the
// local system `localSystem` (SYSTEMID of network 1).
EmailRecord MakeEmailRecord(const HandOffMessage& message, int32_t userNumber, const Text& handle,
                            const Text& localSystem, const QDateTime& now);

// Local time as seconds since 1 January 1970, as the e-mail record keeps it.
int32_t LocalEpochSeconds(const QDateTime& now);

// The next `count` numbers of "DBSEQ.DAT" (after 3999999 comes 1), stored
// back at once. Empty with *error set when the file cannot be used.
QList<int32_t> ReserveSeqNums(const QString& dataDir, int count, QString* error);

// Sets every record's body position and length and writes the batch. The
// bodies reach the disk before the records that point at them, so a crash
// leaves at worst unused body text, never a record without its body.
bool WriteMailBatch(const QString& messageDir, QList<NewMail>& batch, QString* error);
