// Base64 decoding of any text, and the round trip of any bytes.
#include "fuzz/FuzzSupport.h"
#include "server/net/Base64.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Text input(reinterpret_cast<const char*>(data), qsizetype(size));
    clsBase64::Decode(input);
    clsBase64::DecodeArr(input);
    const Text encoded = clsBase64::Encode(input);
    if (clsBase64::Decode(encoded) != input) std::abort();
    for (const Text& line : encoded.split('\n'))
        if (line.size() > clsBase64::kLineLength + 1) std::abort();
    return 0;
}
