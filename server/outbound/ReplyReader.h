#pragma once
// Cuts the upstream server's byte stream into replies. A multi-line reply
// ("250-..." lines up to a line without the hyphen) is judged by its first
// line, however its lines are spread over the arrivals. Memory stays bounded:
// only the first line and the unfinished line are kept.
#include "server/store/Text.h"
#include <optional>

class ReplyReader {
public:
    // Longest reply line kept; a longer one makes the reader overflow.
    static constexpr qsizetype kMaxLine = 64 * 1024;

    // Takes newly received bytes. Returns the first line of the reply they
    // complete; whatever follows that reply in the same bytes is dropped,
    // since the client never has more than one command outstanding.
    std::optional<Text> Append(const Text& data);
    bool Overflowed() const { return overflowed_; }
    void Clear();

private:
    static bool IsContinuation(const Text& line);

    Text partial_;                  // bytes after the last CR LF
    std::optional<Text> first_;     // first line of the reply under way
    bool overflowed_ = false;
};
