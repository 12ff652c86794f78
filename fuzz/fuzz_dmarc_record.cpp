// The DMARC record parser and the From domain of any message.
#include "fuzz/FuzzSupport.h"
#include "server/auth/DmarcCheck.h"
#include "server/auth/DmarcRecord.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Text input(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<DmarcRecord> record = ParseDmarcRecord(input);
    if (record && (record->percent < 0 || record->percent > 100 || !IsDmarcRecord(input))) std::abort();
    const Text domain = FromDomain(input);
    if (!domain.isEmpty()) OrganisationalDomain(domain);
    return 0;
}
