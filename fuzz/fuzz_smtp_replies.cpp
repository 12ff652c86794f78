// The upstream server's replies as the client reads them: any bytes, cut
// into arrivals of any size, and the reply code of any line.
// Input: one byte of arrival size, then the bytes.
#include "fuzz/FuzzSupport.h"
#include "server/outbound/ReplyCode.h"
#include "server/outbound/ReplyReader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const qsizetype arrival = 1 + data[0] * 3;
    const Text input(reinterpret_cast<const char*>(data) + 1, qsizetype(size) - 1);
    ReplyReader reader;
    for (qsizetype at = 0; at < input.size(); at += arrival) {
        const std::optional<Text> reply = reader.Append(input.mid(at, arrival));
        if (reader.Overflowed()) {
            reader.Clear();
            continue;
        }
        if (!reply) continue;
        if (reply->size() > ReplyReader::kMaxLine) std::abort();
        for (int digits = 0; digits <= 4; ++digits) GetReplyCode(*reply, digits);
    }
    GetReplyCode(input, 3);
    GetReplyCode(input, 1);
    return 0;
}
