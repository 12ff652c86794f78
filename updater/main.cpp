// ZRVUpdate: lists newer versions of the BBS family's programs.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <memory>
#include "updater/ConsoleUpdate.h"
#include "updater/DisplayProbe.h"
#include "updater/MainWindow.h"
#include "updater/SingleInstance.h"

static const char* const kUsage =
    "Usage: ZRVUpdate [/TYPE=1|2|3] [/QUIET]\n"
    "Lists newer versions of the Zarvel BBS family's programs than those installed; start it\n"
    "in the BBS's main directory.\n\n"
    "  /TYPE=1, 2, 3  latest build, unofficial and official releases, official releases only\n"
    "                 (default: the BBS's own setting, else 3)\n"
    "  /QUIET         show nothing unless updates are found\n"
    "  --help         show this text\n\n"
    "Without a display it prints the list on standard output; a check that fails says why on\n"
    "standard error and ends with status 1. ZRVUPDATE_URL and ZRVUPDATE_FTP replace the\n"
    "service's addresses.\n";

// A display that is set but cannot be opened leaves the check in the
// console, saying why, instead of aborting.
static bool HasDisplay() {
    QString why;
    if (DisplayUsable(why)) return true;
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        std::fprintf(stderr, "ZRVUpdate: %s; running in the console\n", qPrintable(why));
    return false;
}

// True when this copy goes on; false when another copy of this user runs
// here (it was asked to come to the front). One without the guard says why.
static bool RunsHere(SingleInstance& instance) {
    if (!instance.Claim()) return false;
    if (!instance.Problem().isEmpty()) std::fprintf(stderr, "ZRVUpdate: %s\n", qPrintable(instance.Problem()));
    return true;
}

static int RunConsole(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString workDir = QDir::currentPath();
    SingleInstance instance(QStringLiteral("ZRVUpdate"), workDir);
    if (!RunsHere(instance)) return 0;

    QFile output;
    if (!output.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)) return 1;
    ConsoleUpdate update(UpdateAddresses::FromEnvironment(), output);
    QObject::connect(&update, &ConsoleUpdate::Ended, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    update.Start(app.arguments().mid(1), workDir);
    return app.exec();
}

static int RunWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);   // the main window says when the program ends
    const QString workDir = QDir::currentPath();
    frmMain window(UpdateAddresses::FromEnvironment());
    SingleInstance instance(QStringLiteral("ZRVUpdate"), workDir);
    if (!RunsHere(instance)) return 0;

    QObject::connect(&instance, &SingleInstance::ActivationRequested, &window, &frmMain::BringToFront);
    QObject::connect(&window, &frmMain::Ended, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    window.FormLoad(app.arguments().mid(1), workDir);
    return app.exec();
}

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--help") == 0 || qstrcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    return HasDisplay() ? RunWindow(argc, argv) : RunConsole(argc, argv);
}
