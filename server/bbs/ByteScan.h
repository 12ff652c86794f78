#pragma once
// Scanning the BBS's list files and fixed-width fields in place: line
// splitting, trimming and case-insensitive comparison on raw bytes, without
// a copy per line, so that a lookup in a large index stays cheap.
#include <QString>
#include <cstring>
#include <optional>
#include <string_view>
#include "server/store/Lines.h"
#include "server/store/Text.h"

inline std::string_view ByteView(const Text& t) { return {t.constData(), static_cast<size_t>(t.size())}; }
inline Text ViewText(std::string_view s) { return Text(s.data(), static_cast<qsizetype>(s.size())); }

// The bytes `Trim` removes: a name with a NUL at its end is not the name
// without it.
inline bool IsBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
// Fixed-width record fields may also be padded with NULs.
inline bool IsFieldPadding(char c) { return IsBlankByte(c) || c == '\0'; }

template <bool (*Strip)(char)>
std::string_view TrimWith(std::string_view s) {
    size_t begin = 0, end = s.size();
    while (begin < end && Strip(s[begin])) ++begin;
    while (end > begin && Strip(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

// Trims as `Trim` does: spaces, TABs, CR and LF at both ends.
inline std::string_view TrimBytes(std::string_view s) { return TrimWith<IsBlankByte>(s); }
// Trims a fixed-width record field: blanks and NULs at both ends.
inline std::string_view TrimField(std::string_view s) { return TrimWith<IsFieldPadding>(s); }

// Case-insensitive comparison with the letter cases of the server's text
// helpers (ASCII and Latin-1).
bool SameTextBytes(std::string_view a, std::string_view b);

// The fixed-width text field equals `wanted` once trimmed, ignoring case.
// A `wanted` that is empty or has padding at an end equals no trimmed field.
// Most fields start with their text, and those are told apart without
// trimming them.
bool FieldEquals(std::string_view field, std::string_view wanted);

// The whole of a list file. "" when it is missing; nothing when it exists
// but cannot be read, which is recorded in the error log.
std::optional<Text> ReadListFile(const QString& path, const char* procedure, const char* module);
