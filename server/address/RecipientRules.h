#pragma once
// Pieces shared by the recipient checks: keyed list rows, the alias step and
// the matching of a list row's user column.
#include "server/bbs/ServerContext.h"
#include "server/bbs/UserRecord.h"
#include "server/store/Text.h"

// The rows of a keyed list section, each split into at most `columns`
// columns (padded to that many), every column trimmed. Missing: no rows.
QList<TextList> SectionRows(const ServerContext& ctx, const Text& section, int columns);

// The alias step: the normalised local part `local` as the first matching
// row of "aliases" resolves it (itself when no row applies).
Text ResolveAlias(const ServerContext& ctx, const Text& local);

// A list row's user column names the user: by number when it is numeric,
// otherwise by the trimmed name of the user's record (ignoring case).
bool UserColumnMatches(const Text& column, int32_t userNumber, const UserRecord& user);

// "USERFILE.DAT" exists and `userNumber` is beyond its last record.
bool BeyondUserFile(const ServerContext& ctx, int32_t userNumber);
