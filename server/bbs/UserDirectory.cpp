#include "server/bbs/UserDirectory.h"
#include <fcntl.h>
#include <unistd.h>
#include <QFile>
#include "server/bbs/ByteScan.h"
#include "server/bbs/UserFileColumns.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

namespace {

constexpr const char* kModule = "modZARV";

// Splits off the first column of an index line: the text before the first
// ",", and the rest after it.
std::pair<std::string_view, std::string_view> FirstColumn(std::string_view line) {
    const size_t comma = line.find(',');
    if (comma == std::string_view::npos) return {line, {}};
    return {line.substr(0, comma), line.substr(comma + 1)};
}

// The trimmed first column of an index line equals `wanted` (trimmed, not
// empty, without a comma), ignoring case. A line that starts with its
// handle, as nearly all do, is told apart by a look at two bytes and one
// comparison.
bool FirstColumnEquals(std::string_view line, std::string_view wanted) {
    const size_t n = wanted.size();
    if (line.empty() || IsBlankByte(line.front())) return SameTextBytes(TrimBytes(FirstColumn(line).first), wanted);
    if (line.size() < n || (line.size() > n && line[n] != ',' && !IsBlankByte(line[n]))) return false;
    if (!SameTextBytes(line.substr(0, n), wanted)) return false;
    for (size_t i = n; i < line.size() && line[i] != ','; ++i)
        if (!IsBlankByte(line[i])) return false;
    return true;
}

// The number column of an index line: plain decimal digits are read in
// place; anything else goes through the lenient parse of the text helpers.
int32_t ColumnNumber(std::string_view column) {
    if (!column.empty() && column.size() <= 9 && column.find_first_not_of("0123456789") == std::string_view::npos) {
        int32_t n = 0;
        for (char c : column) n = n * 10 + (c - '0');
        return n;
    }
    return ValLong(ViewText(column));
}

}   // namespace

QString UserFilePath(const BbsConfig& bbs) { return PathJoin(bbs.DataDir(), "USERFILE.DAT"); }
QString HandlesUipPath(const BbsConfig& bbs) { return PathJoin(bbs.MainDir(), "HANDLES.UIP"); }

int32_t UserCount(const BbsConfig& bbs) {
    const qint64 length = FileLength(UserFilePath(bbs));
    return length > 0 ? static_cast<int32_t>(std::min<qint64>(length / kUserRecordSize, INT32_MAX)) : 0;
}

UserRecord GetUser(const BbsConfig& bbs, int32_t userNumber, bool* failed) {
    if (failed) *failed = true;
    const QString path = UserFilePath(bbs);
    Text fault;
    // One open and one positioned read: a record is fetched for every recipient.
    const int fd = userNumber < 1 ? -1 : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (userNumber < 1) {
        fault = "Bad record number " + NumText(userNumber);
    } else if (fd < 0) {
        fault = "File not found: " + TextFromPath(path);
    } else {
        Text bytes(kUserRecordSize, '\0');
        const ssize_t got = ::pread(fd, bytes.data(), size_t(kUserRecordSize), off_t(userNumber - 1) * kUserRecordSize);
        ::close(fd);
        if (got == kUserRecordSize) {
            if (failed) *failed = false;
            return UserRecord::Decode(bytes);
        }
        fault = "Bad record number " + NumText(userNumber);
    }
    LogError("GetUser", kVersion, kModule, fault);
    return UserRecord();
}

int32_t FindHandle(const BbsConfig& bbs, const Text& name) {
    // The whole file is searched: the count is not held in a 16-bit number,
    // so users beyond record 32767 are found too.
    const std::string_view wanted = TrimBytes(ByteView(name));
    if (wanted.empty()) return 0;   // an empty name must not match an empty slot
    const UserColumns users = ReadUserColumns(UserFilePath(bbs), UserColumnSet::Handles, "FindHandle");
    for (int32_t i = 0; i < users.Count(); ++i)
        if (FieldEquals(users.HandleField(i), wanted)) return i + 1;
    return 0;
}

Text ScanHandlesUip(const BbsConfig& bbs, const Text& handle, int32_t userNumber) {
    const std::string_view wanted = TrimBytes(ByteView(handle));
    if (wanted.empty() && userNumber < 1) return {};
    // A column never holds a comma: such a handle names no line, and must
    // not match the first columns of a line as one.
    if (wanted.find(',') != std::string_view::npos) return {};
    const std::optional<Text> index = ReadListFile(HandlesUipPath(bbs), "ScanHandlesUip", kModule);
    if (!index) return {};
    Text result;
    ForEachLine(ByteView(*index), LineEnds::Any, [&](std::string_view line) {
        if (!wanted.empty()) {
            if (!FirstColumnEquals(line, wanted)) return true;
            result = NumText(ColumnNumber(TrimBytes(FirstColumn(FirstColumn(line).second).first)));
            return false;
        }
        const auto [first, rest] = FirstColumn(line);
        if (ColumnNumber(TrimBytes(FirstColumn(rest).first)) != userNumber) return true;
        result = ViewText(TrimBytes(first));
        return false;
    });
    return result;
}
