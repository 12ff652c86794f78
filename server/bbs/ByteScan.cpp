#include "server/bbs/ByteScan.h"
#include <array>
#include <cerrno>
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/SettledFiles.h"
#include "server/store/Version.h"

namespace {

// One table built from the text helpers' own lower-casing, so that a byte
// compares here exactly as it does everywhere else in the server.
const std::array<unsigned char, 256>& FoldTable() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        Text all(256, '\0');
        for (int c = 0; c < 256; ++c) all[c] = static_cast<char>(c);
        const Text lower = LCase(all);
        for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(lower.size() == 256 ? lower[c] : c);
        return t;
    }();
    return table;
}

}   // namespace

bool SameTextBytes(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const auto& fold = FoldTable();
    for (size_t i = 0; i < a.size(); ++i)
        if (fold[static_cast<unsigned char>(a[i])] != fold[static_cast<unsigned char>(b[i])]) return false;
    return true;
}

bool FieldEquals(std::string_view field, std::string_view wanted) {
    if (wanted.empty() || wanted.size() > field.size()) return false;
    if (IsFieldPadding(wanted.front()) || IsFieldPadding(wanted.back())) return false;
    if (IsFieldPadding(field.front())) return SameTextBytes(TrimField(field), wanted);
    if (!SameTextBytes(field.substr(0, wanted.size()), wanted)) return false;
    for (char c : field.substr(wanted.size()))
        if (!IsFieldPadding(c)) return false;
    return true;
}

std::optional<Text> ReadListFile(const QString& path, const char* procedure, const char* module) {
    bool ok = false;
    Text bytes = ReadSettledFile(path, &ok);
    if (ok) return bytes;
    if (errno == ENOENT) return Text();
    LogError(procedure, kVersion, module, "Cannot read " + TextFromPath(path));
    return std::nullopt;
}
