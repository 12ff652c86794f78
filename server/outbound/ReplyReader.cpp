#include "server/outbound/ReplyReader.h"

bool ReplyReader::IsContinuation(const Text& line) {
    if (line.size() < 4 || line[3] != '-') return false;
    for (int i = 0; i < 3; ++i)
        if (line[i] < '0' || line[i] > '9') return false;
    return true;
}

void ReplyReader::Clear() {
    partial_.clear();
    lines_.clear();
    done_.clear();
    overflowed_ = false;
}

std::optional<Text> ReplyReader::Append(const Text& data) {
    if (overflowed_) return std::nullopt;
    // A CR LF may be split between two arrivals: look from one byte back.
    qsizetype from = partial_.size() > 0 ? partial_.size() - 1 : 0;
    partial_ += data;
    qsizetype lineStart = 0;
    for (;;) {
        const qsizetype end = partial_.indexOf("\r\n", std::max(from, lineStart));
        if (end < 0) break;
        const Text line = partial_.mid(lineStart, end - lineStart);
        lineStart = end + 2;
        if (line.size() > kMaxLine) {
            overflowed_ = true;
            return std::nullopt;
        }
        if (lines_.size() < kMaxLines) lines_.append(line);
        if (!IsContinuation(line)) {
            done_ = std::move(lines_);
            lines_.clear();
            partial_.clear();
            return done_.first();
        }
    }
    partial_.remove(0, lineStart);
    if (partial_.size() > kMaxLine) {
        overflowed_ = true;
        partial_.clear();
    }
    return std::nullopt;
}
