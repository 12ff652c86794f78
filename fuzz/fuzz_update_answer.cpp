// The update service's answer as the update checker reads it: entries cut
// at ";", ten fields each, checked against any version record.
// Input: a switch byte, then parts cut at "\0\xff": answer, version record.
#include "fuzz/FuzzSupport.h"
#include "updater/UpdateScan.h"
#include "updater/VersionRecord.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    FuzzInstall& install = FuzzInstall::Get();
    const TextList p = FuzzParts(data + 1, size - 1, 2);
    for (const Text& raw : SplitEntries(p[0])) {
        const std::optional<UpdateEntry> entry = ParseUpdateEntry(raw);
        if (!entry) continue;
        FormatFileSize(entry->fileSize);
        entry->SizeText();
        IsPlainPathSegment(entry->product);
        IsPlainPathSegment(entry->fileName);
        if (const std::optional<int> offset = VersionFieldOffset(entry->program)) InstalledBuild(p[1], *offset);
    }
    ScanContext context = ScanContext::Read(install.layout.mainDir, data[0] & 1);
    context.versionRecord = p[1];
    for (const char* program : {"ZARVEL.EXE", "OSPRINE.EXE", "ZRVUPDATE.EXE", "ZPURGEDB.EXE"})
        context.installed.insert(program);
    context.oldPurgeProgram = data[0] & 2;
    const ScanResult result = ScanAnswer(p[0], context);
    for (const UpdateEntry& row : result.rows)
        if (!context.showAll && row.enabled != 1) std::abort();
    return 0;
}
