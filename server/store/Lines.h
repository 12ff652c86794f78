#pragma once
// The server's one line splitter. Lines are views into the text and their
// ends are found with memchr, so walking a large file or message is linear
// and copies nothing.
#include <cstring>
#include <string_view>

enum class LineEnds {
    Lf,    // a line ends at LF, a CR right before it dropped: the settings files
    Any,   // at CR LF, a lone LF or a lone CR: the BBS's list files, mail headers
};

// Calls line(view) for each line of text; line returns false to stop. The
// end of the last line makes no empty line of its own.
template <typename F>
void ForEachLine(std::string_view text, LineEnds ends, F&& line) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
        const char* const stop = lf ? static_cast<const char*>(lf) : end;
        // The usual CR LF leaves one line; with LineEnds::Any any other CR
        // before the LF ends a line of its own.
        const char* const last = stop > p && stop[-1] == '\r' ? stop - 1 : stop;
        const char* start = p;
        while (ends == LineEnds::Any) {
            const void* cr = std::memchr(start, '\r', static_cast<size_t>(last - start));
            if (!cr) break;
            const char* at = static_cast<const char*>(cr);
            if (!line(std::string_view(start, static_cast<size_t>(at - start)))) return;
            start = at + 1;
        }
        if (!line(std::string_view(start, static_cast<size_t>(last - start)))) return;
        p = stop + 1;
    }
}
