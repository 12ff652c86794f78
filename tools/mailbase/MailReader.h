#pragma once
// Reads a user's mail back from the BBS e-mail base.
#include <QList>
#include <QString>
#include "server/bbs/EmailRecord.h"

// The entries of "EMAIL.DAT" addressed to `userNumber`, in file order; with
// `withBodies` each body is read from "EMAIL.BIN" (left empty when the
// record points outside that file).
QList<EmailEntry> ReadUserMail(const QString& messageDir, int32_t userNumber, bool withBodies);
