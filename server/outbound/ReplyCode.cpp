#include "server/outbound/ReplyCode.h"

int16_t GetReplyCode(const Text& text, int digits) {
    const Text line = Trim(text);
    if (line.isEmpty()) return 0;
    if (digits <= 0) digits = 3;
    const Text head = line.left(digits);
    int32_t value = 0;
    for (const char c : head) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT16_MAX) return INT16_MAX;
    }
    return static_cast<int16_t>(value);
}
