// The keyed list file "OSPRDATA.DAT" with any content: reading a key,
// replacing it, and splitting a list value into rows and columns.
// Input: a column-count byte, then parts cut at "\0\xff": file, key, value.
#include "fuzz/FuzzSupport.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"

#include <cstdlib>

namespace {
bool OneLine(const Text& t) { return !t.contains('\r') && !t.contains('\n'); }
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    FuzzInstall& install = FuzzInstall::Get();
    const TextList p = FuzzParts(data + 1, size - 1, 3);
    const QString file = PathJoin(install.Scratch(), "OSPRDATA.DAT");
    WriteScratchFile(file, p[0]);

    for (const TextList& row : ListRows(GetData(p[1], file), data[0] % 8))
        if (row.size() < data[0] % 8) std::abort();
    ListRows(p[2], data[0] % 8);

    PutData(p[1], p[2], file);
    // A key and value that fit on one line read back as written.
    const Text key = Trim(p[1]);
    if (!key.isEmpty() && OneLine(key) && OneLine(p[2]) && !key.contains('=') && GetData(key, file) != p[2])
        std::abort();
    return 0;
}
