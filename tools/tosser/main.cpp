// ZUUCP.EXE: the substitute for the BBS's tosser. The server's batch file
// runs "ZUUCP.EXE 0 /R" in the BBS main directory; it imports the inbound
// hand-off files of the Internet spool into the BBS e-mail base.
#include "tools/mailbase/Tosser.h"

#include <QDir>
#include <cstdio>

namespace {

int Usage(const char* problem) {
    std::fprintf(stderr, "ZUUCP.EXE: %s\nusage: ZUUCP.EXE NODE [/R]   (run in the BBS main directory)\n", problem);
    return 2;
}

}   // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no node number given");
    bool ok = false;
    const int node = QByteArray(argv[1]).toInt(&ok);
    if (!ok || node < 0 || node > 999) return Usage("the node number must be from 0 to 999");
    for (int i = 2; i < argc; ++i)
        if (QByteArray(argv[i]).toUpper() != "/R") return Usage("unknown switch");

    const TossReport report = RunTosser(QDir::currentPath(), node);
    if (report.busy) {
        std::printf("ZUUCP.EXE: another tosser is at work; nothing done\n");
        return 0;
    }
    std::printf("ZUUCP.EXE: %d message(s) imported\n", report.imported);
    for (const QString& name : report.left)
        std::fprintf(stderr, "ZUUCP.EXE: %s could not be imported or removed\n", qPrintable(name));
    if (!report.error.isEmpty()) {
        std::fprintf(stderr, "ZUUCP.EXE: %s\n", qPrintable(report.error));
        return 1;
    }
    return report.left.isEmpty() ? 0 : 1;
}
