#pragma once
// A whole file mapped read-only for one lookup, so that scanning the user
// file or the handle index costs no copy however large it is. The mapping
// is released when the object goes; nothing stays open between calls.
#include <QString>
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

// Case-insensitive comparison of raw bytes, with the letter cases of the
// server's text helpers (ASCII and Latin-1).
bool SameTextBytes(std::string_view a, std::string_view b);
// Trims spaces, TABs, CR, LF (and NUL padding) at both ends.
std::string_view TrimBytes(std::string_view s);

// Calls `line` for each line of `text`; a line ends at CR LF, LF or CR.
// `line` returns false to stop.
template <typename F>
void ForEachLine(std::string_view text, F&& line) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        if (!line(text.substr(pos, end - pos))) return;
        pos = end;
        if (pos < text.size() && text[pos] == '\r') ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
    }
}
