#include "updater/UpdateEntry.h"
#include <cmath>
#include "updater/CommandLine.h"

QList<Text> SplitEntries(const Text& answer) { return answer.split(';'); }

// A field that must be a plain decimal number (no sign, no fraction).
static std::optional<qint64> PlainNumber(const Text& field) {
    if (field.isEmpty() || field.size() > 18) return std::nullopt;
    for (char c : field)
        if (c < '0' || c > '9') return std::nullopt;
    return field.toLongLong();
}

std::optional<UpdateEntry> ParseUpdateEntry(const Text& raw) {
    const QList<Text> fields = raw.split(',');
    if (fields.size() < kEntryFieldCount) return std::nullopt;
    auto field = [&](int number) { return fields[number - 1].trimmed(); };

    UpdateEntry entry;
    entry.raw = raw;
    entry.enabled = LeadingNumber(field(1));
    entry.product = field(2);
    entry.historyFile = field(3);
    entry.notesFile = field(4);
    entry.versionText = field(5);
    entry.fileName = field(6);
    entry.md5 = field(8);
    entry.program = field(9);
    entry.description = field(10);
    const auto version = PlainNumber(entry.versionText);
    const auto size = PlainNumber(field(7));
    if (!version || !size) return std::nullopt;
    entry.version = *version;
    entry.fileSize = *size;
    return entry;
}

// Rounded to two decimals and written without trailing zeros.
static Text TwoDecimals(double value) {
    Text text = Text::number(value, 'f', 2);
    while (text.endsWith('0')) text.chop(1);
    if (text.endsWith('.')) text.chop(1);
    return text;
}

Text FormatFileSize(qint64 bytes) {
    if (bytes <= 1000) return Text::number(bytes) + " bytes";
    if (bytes <= 1000000) return TwoDecimals(static_cast<double>(bytes) / 1024.0) + "KB";
    return TwoDecimals(static_cast<double>(bytes) / 1048576.0) + "MB";
}

Text UpdateEntry::SizeText() const { return FormatFileSize(fileSize); }

bool IsPlainPathSegment(const Text& segment) {
    if (segment.isEmpty() || segment.contains("..")) return false;
    for (char c : segment) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
        if (c == '/' || c == '\\' || c == '?' || c == '#' || c == '@' || c == ':') return false;
    }
    return true;
}
