// The SPF record parser and the macro expansion of what it accepts.
#include "fuzz/FuzzSupport.h"
#include "server/auth/SpfMacros.h"
#include "server/auth/SpfRecord.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Text input(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<SpfRecord> record = ParseSpfRecord(input);
    if (record && !IsSpfRecord(input)) std::abort();
    if (!record) return 0;
    const SpfMacroValues values{"joe@example.com", "example.com", "192.0.2.3", "mail.example.com"};
    for (const SpfDirective& d : record->directives) {
        if (d.domainSpec.isEmpty()) continue;
        // An accepted target domain always expands, to at most 253 characters.
        const std::optional<Text> expanded = ExpandSpfMacros(d.domainSpec, values);
        if (expanded && expanded->size() > 253) std::abort();
    }
    return 0;
}
