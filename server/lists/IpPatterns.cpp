#include "server/lists/IpPatterns.h"

namespace {

// Each part padded on the left with "0" to three characters, so that a
// plain text sort orders by number and puts "00*" before "000".
Text Padded(const Text& pattern) {
    TextList parts = Explode(".", pattern);
    for (Text& p : parts) p = StrPad(p, 3, "0", PadMode::Left);
    return parts.join('.');
}

Text Restored(const Text& padded) {
    TextList parts = Explode(".", padded);
    for (Text& p : parts) {
        const Text t = Trim(p);
        p = t.contains('*') ? Text("*") : NumText(ValLong(t));
    }
    return parts.join('.');
}

}   // namespace

TextList SortIpPatterns(const TextList& patterns) {
    TextList padded;
    for (const Text& p : patterns)
        if (!Trim(p).isEmpty()) padded.append(Padded(Trim(p)));
    SortArray(padded);
    TextList sorted;
    for (const Text& p : padded) {
        const Text restored = Restored(p);
        if (restored != "0.0.0.0") sorted.append(restored);
    }
    return sorted;
}

bool IsIpPart(const Text& part) {
    if (part == "*") return true;
    if (part.isEmpty() || part.size() > 3) return false;
    for (char c : part)
        if (c < '0' || c > '9') return false;
    return part.toInt() <= 255;
}
