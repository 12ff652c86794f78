#pragma once
// A whole file mapped read-only for one lookup, so that scanning the user
// file or the handle index costs no copy however large it is. The mapping
// is released when the object goes; nothing stays open between calls.
#include <QString>
#include <cstring>
#include <string_view>

class MappedFile {
public:
    explicit MappedFile(const QString& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool IsOpen() const { return open_; }        // an empty file is open and empty
    std::string_view Bytes() const { return {data_, size_}; }

private:
    bool open_ = false;
    const char* data_ = nullptr;
    size_t size_ = 0;
    void* mapping_ = nullptr;
};

// The file exists but could not be opened or mapped; the fault is recorded
// in the error log under the procedure's name. A missing file is no fault.
bool UnreadableFile(const MappedFile& file, const QString& path, const char* procedure, const char* module);

// Case-insensitive comparison of raw bytes, with the letter cases of the
// server's text helpers (ASCII and Latin-1).
bool SameTextBytes(std::string_view a, std::string_view b);
inline bool IsPaddingByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }
// Trims spaces, TABs, CR, LF (and NUL padding) at both ends.
inline std::string_view TrimBytes(std::string_view s) {
    size_t begin = 0, end = s.size();
    while (begin < end && IsPaddingByte(s[begin])) ++begin;
    while (end > begin && IsPaddingByte(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}
// The fixed-width text field equals `wanted` (trimmed, not empty) once
// trimmed, ignoring case. Most fields start with their text, and those are
// told apart without trimming them.
bool FieldEquals(std::string_view field, std::string_view wanted);

// Calls `line` for each line of `text`; a line ends at CR LF, LF or CR.
// `line` returns false to stop. Line ends are found with memchr, so a scan
// of a large index costs little more than reading it.
template <typename F>
void ForEachLine(std::string_view text, F&& line) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
        const char* const stop = lf ? static_cast<const char*>(lf) : end;
        // Between two LFs every CR ends a line as well; the piece after a
        // CR that stands right before the LF (or the end) is no line.
        const char* start = p;
        while (const void* cr = std::memchr(start, '\r', static_cast<size_t>(stop - start))) {
            const char* at = static_cast<const char*>(cr);
            if (!line(std::string_view(start, static_cast<size_t>(at - start)))) return;
            start = at + 1;
        }
        const bool endsWithCr = stop > p && stop[-1] == '\r';
        if (!endsWithCr && !line(std::string_view(start, static_cast<size_t>(stop - start)))) return;
        p = stop + 1;
    }
}
