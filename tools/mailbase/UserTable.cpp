#include "tools/mailbase/UserTable.h"

#include "server/bbs/UserRecord.h"
#include "server/store/Files.h"

#include <QFile>

Text NameKey(const Text& name) {
    Text key = LCase(Trim(name));
    key.replace(' ', '.');
    return key;
}

namespace {

// Handle index lines: handle "," user number "," system id "," "1".
template <typename F>
void ForEachIndexLine(const Text& text, F f) {
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0) end = text.size();
        const TextList columns = Explode(",", text.mid(start, end - start), 4, 2);
        f(columns[0], ValLong(Trim(columns[1])));
        start = end + 1;
    }
}

}   // namespace

UserTable UserTable::FromBytes(const Text& userFile, const Text& handlesUip) {
    UserTable t;
    const qsizetype count = userFile.size() / kUserRecordSize;
    t.handles_.reserve(count);
    for (qsizetype i = 0; i < count; ++i) t.handles_.append(UserHandleAt(userFile.constData() + i * kUserRecordSize));
    // Handles of the index come first, as in the server's own lookup.
    ForEachIndexLine(handlesUip, [&t](const Text& handle, int32_t number) { t.AddName(handle, number); });
    for (int32_t n = 1; n <= t.Count(); ++n) t.AddName(t.Handle(n), n);
    return t;
}

UserTable UserTable::Load(const BbsConfig& bbs) {
    return FromBytes(ReadFileBytes(PathJoin(bbs.DataDir(), "USERFILE.DAT")),
                     ReadFileBytes(PathJoin(bbs.MainDir(), "HANDLES.UIP")));
}

void UserTable::AddName(const Text& name, int32_t number) {
    const Text key = NameKey(name);
    if (key.isEmpty() || !Exists(number) || byName_.contains(key)) return;
    byName_.insert(key, number);
}

Text UserTable::Handle(int32_t number) const {
    return number >= 1 && number <= Count() ? handles_[number - 1] : Text();
}

int32_t UserTable::Find(const Text& localPart) const {
    const Text key = NameKey(localPart);
    if (key.isEmpty()) return 0;
    const auto hit = byName_.constFind(key);
    if (hit != byName_.constEnd()) return *hit;
    if (IsNumeric(key)) {
        const int32_t number = ValLong(key);
        if (Exists(number)) return number;
    }
    return 0;
}

int32_t UserTable::Recipient(const Text& address) const {
    Text local = Trim(address);
    const qsizetype at = local.indexOf('@');
    if (at >= 0) local.truncate(at);
    local.replace('<', "").replace('>', "");
    const int32_t found = Find(local);
    return found > 0 ? found : 1;
}
