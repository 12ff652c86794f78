#pragma once
// The users of a test installation. A fixed cast comes first (the sysop as
// user 1, names with spaces, users with and without the Internet flag "I",
// a deleted record and a level-0 record); larger user files continue with
// generated users named "User " + their user number.
#include <QList>
#include <QString>
#include <cstdint>
#include "server/store/Text.h"

struct DemoUser {
    int32_t number = 0;   // record number, from 1
    Text handle;          // blank in the deleted record
    Text accessFlags;
    int16_t securityLevel = 0;
};

// The records of a user file holding `listed` listed users (at least 1),
// in record order: `listed` + 2 records.
QList<DemoUser> DemoUsers(int listed);

// Writes "USERFILE.DAT" whole, in one write through a temporary file.
bool WriteUserFile(const QString& path, const QList<DemoUser>& users);
