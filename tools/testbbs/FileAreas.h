#pragma once
// The file areas of a test installation: the area records of
// "DATABASE.CFG" (131 bytes each), the files in the areas and the magic
// names of "MAGIC.FID".
#include <QString>
#include "server/store/Text.h"

inline constexpr int kFileAreaRecordSize = 131;
inline constexpr int kFileAreaDirOffset = 8;
inline constexpr int kFileAreaDirSize = 32;
inline constexpr int kFileAreaSwitchOffset = 99;

struct FileAreaRecord {
    Text name;           // offset 0, 8 characters
    Text directory;      // offset 8, 32 characters
    Text description;    // offset 40, 32 characters
    bool fileRequests;   // offset 99: 1 = searched by file requests
};

// Every number of the record is 0 except the file-request switch; text
// fields are space-filled.
Text EncodeFileArea(const FileAreaRecord& area);

// Writes the area files: "README.TXT", "ALLFILES.TXT" and "DEMO.ZIP" into
// `openDir`, "SECRET.TXT" into `closedDir`, "ABOUT.TXT" into `magicDir`.
bool WriteAreaFiles(const QString& openDir, const QString& closedDir, const QString& magicDir, const Text& bbsName);

// "MAGIC.FID": magic name, one space, full path of the file.
Text MagicFidText(const QString& openDir, const QString& magicDir);
