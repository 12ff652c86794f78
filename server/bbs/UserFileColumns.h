#pragma once
// The columns of the user file that the lookups and the index rebuild scan
// — the handle (40 bytes) and, when asked, the security level (2 bytes) of
// every record — gathered in one pass over the file mapped into memory, so
// that a user file of many thousand records costs no copy of its records.
#include <QString>
#include <string_view>
#include "server/bbs/UserRecord.h"

enum class UserColumnSet { Handles, HandlesAndLevels };

struct UserColumns {
    bool readable = true;   // false: the file exists but could not be read (logged)
    int stride = kUserHandleSize;
    Text bytes;   // `stride` bytes per record, in record order

    int32_t Count() const { return static_cast<int32_t>(bytes.size() / stride); }
    // Record `index` from 0: the raw 40-byte handle field and the level.
    std::string_view HandleField(int32_t index) const {
        return {bytes.constData() + qsizetype(index) * stride, kUserHandleSize};
    }
    int16_t SecurityLevel(int32_t index) const;   // 0 unless levels were read
};

// Reads the columns of the file at `path`; a missing file has no records.
// A file that shrinks while it is read counts as unreadable rather than
// stopping the server. Faults are logged under `procedure`.
UserColumns ReadUserColumns(const QString& path, UserColumnSet set, const char* procedure);

// The gathering step on its own, for a file mapped by the caller: copies
// the columns of `count` records from `mapped` to `out`; false when the
// mapping faulted because the file shrank underneath it.
bool GatherUserColumns(const char* mapped, int32_t count, UserColumnSet set, char* out);
