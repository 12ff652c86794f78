#pragma once
// Cuts the upstream server's byte stream into replies. A multi-line reply
// ("250-..." lines up to a line without the hyphen) is judged by its first
// line, however its lines are spread over the arrivals; its other lines (an
// EHLO reply's extensions) are kept alongside. Memory stays bounded: at most
// kMaxLines lines of one reply are kept, and the unfinished line.
#include <optional>
#include "server/store/Text.h"

class ReplyReader {
public:
    // Longest reply line kept; a longer one makes the reader overflow.
    static constexpr qsizetype kMaxLine = 64 * 1024;
    // Lines of one reply kept for Lines(); further ones are read and dropped.
    static constexpr qsizetype kMaxLines = 100;

    // Takes newly received bytes. Returns the first line of the reply they
    // complete; whatever follows that reply in the same bytes is dropped,
    // since the client never has more than one command outstanding.
    std::optional<Text> Append(const Text& data);
    bool Overflowed() const { return overflowed_; }
    // Every kept line of the reply Append last completed, the first included.
    const TextList& Lines() const { return done_; }
    void Clear();

private:
    static bool IsContinuation(const Text& line);

    Text partial_;     // bytes after the last CR LF
    TextList lines_;   // lines of the reply under way
    TextList done_;    // lines of the last completed reply
    bool overflowed_ = false;
};
