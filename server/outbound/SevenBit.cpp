#include "server/outbound/SevenBit.h"

Text ConvertTo7Bit(const Text& text) {
    if (Trim(text).isEmpty()) return text;
    Text out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) >= 128) c = char(static_cast<unsigned char>(c) - 128);
    return out;
}
