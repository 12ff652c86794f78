#include "tools/testbbs/DemoUsers.h"

#include "server/bbs/UserRecord.h"
#include "server/store/Files.h"
#include "tools/testbbs/InstallFile.h"

#include <cstring>

namespace {

struct CastMember {
    const char* handle;
    const char* flags;
    int16_t level;
};

// Record order of the fixed cast. The blank handle is the deleted record;
// level 0 keeps "Locked Out" out of the handle index.
constexpr CastMember kCast[] = {
    {"Sysop", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", 255},
    {"John Smith", "AI", 100},
    {"Mary Jones", "I", 50},
    {"DarkStar", "I", 50},
    {"", "I", 50},
    {"Ann Lee", "A", 20},
    {"Bob", "I", 50},
    {"Locked Out", "I", 0},
    {"Carol White", "I", 50},
    {"Night Owl", "I", 50},
    {"Eve Adams", "", 255},
    {"Frank Miller", "I", 50},
    {"Gina Brown", "I", 50},
    {"Help Desk", "I", 50},
};

bool Listed(const CastMember& m) { return m.handle[0] != '\0' && m.level >= 1; }

DemoUser FromCast(const CastMember& m, int32_t number) { return {number, m.handle, m.flags, m.level}; }

}   // namespace

QList<DemoUser> DemoUsers(int listed) {
    QList<DemoUser> users;
    users.reserve(listed + 2);
    QList<DemoUser> unlistedLeft;
    int placed = 0;
    for (const CastMember& m : kCast) {
        if (Listed(m)) {
            if (placed == listed) continue;
            ++placed;
            users.append(FromCast(m, int32_t(users.size() + 1)));
        } else if (placed < listed) {
            users.append(FromCast(m, int32_t(users.size() + 1)));
        } else {
            unlistedLeft.append(FromCast(m, 0));
        }
    }
    // With a small cast the deleted and level-0 records still come last.
    for (DemoUser u : unlistedLeft) {
        u.number = int32_t(users.size() + 1);
        users.append(u);
    }
    while (placed < listed) {
        const int32_t number = int32_t(users.size() + 1);
        users.append({number, "User " + NumText(number), "I", 10});
        ++placed;
    }
    return users;
}

bool WriteUserFile(const QString& path, const QList<DemoUser>& users) {
    Text file(users.size() * qsizetype(kUserRecordSize), '\0');
    for (qsizetype i = 0; i < users.size(); ++i) {
        UserRecord r;
        r.SetHandle(users[i].handle);
        r.SetAccessFlags(users[i].accessFlags);
        r.SetSecurityLevel(users[i].securityLevel);
        const Text bytes = r.Encode();
        std::memcpy(file.data() + i * kUserRecordSize, bytes.constData(), kUserRecordSize);
    }
    return WriteInstallFile(path, file);
}
