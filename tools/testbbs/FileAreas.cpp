#include "tools/testbbs/FileAreas.h"

#include "server/store/Files.h"
#include "tools/testbbs/InstallFile.h"

#include <QtEndian>

namespace {

void PutText(Text& record, int offset, int size, const Text& value) {
    record.replace(offset, size, StrPad(value.left(size), size));
}

// Some bytes of every value, so that a file request has to carry binary data.
Text DemoArchive() {
    Text bytes(3000, '\0');
    uint32_t x = 2463534242u;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x & 0xFF);
    }
    return bytes;
}

}   // namespace

Text EncodeFileArea(const FileAreaRecord& area) {
    Text record(kFileAreaRecordSize, '\0');
    PutText(record, 0, 8, area.name);
    PutText(record, kFileAreaDirOffset, kFileAreaDirSize, area.directory);
    PutText(record, 40, 32, area.description);
    PutText(record, 74, 1, "");
    PutText(record, 103, 1, "");
    PutText(record, 104, 27, "");
    qToLittleEndian<int16_t>(area.fileRequests ? 1 : 0, record.data() + kFileAreaSwitchOffset);
    return record;
}

bool WriteAreaFiles(const QString& openDir, const QString& closedDir, const QString& magicDir, const Text& bbsName) {
    const Text readme = "Welcome to the file area of " + bbsName + "." + CRLF +
                        "Mail SYSOP**F with a file name as the subject to get a file by mail." + CRLF;
    const Text list = Text("README.TXT   This text") + CRLF + "DEMO.ZIP     A demonstration archive" + CRLF;
    const Text about = "About " + bbsName + ": a test installation." + CRLF;
    return WriteInstallFile(PathJoin(openDir, "README.TXT"), readme) &&
           WriteInstallFile(PathJoin(openDir, "ALLFILES.TXT"), list) &&
           WriteInstallFile(PathJoin(openDir, "DEMO.ZIP"), DemoArchive()) &&
           WriteInstallFile(PathJoin(closedDir, "SECRET.TXT"), Text("Not for file requests.") + CRLF) &&
           WriteInstallFile(PathJoin(magicDir, "ABOUT.TXT"), about);
}

Text MagicFidText(const QString& openDir, const QString& magicDir) {
    return "FILES " + TextFromPath(PathJoin(openDir, "ALLFILES.TXT")) + CRLF + "ABOUT " +
           TextFromPath(PathJoin(magicDir, "ABOUT.TXT")) + CRLF;
}
