// osprine: the SMTP server of one BBS installation, started in its main
// directory. Without a display (or with OSPRINE_HEADLESS=1) it runs in the
// console; otherwise it shows its main window.
#include "server/shell/ConsoleFront.h"
#include "server/shell/DisplayProbe.h"
#include "server/shell/Engine.h"
#include "server/shell/SingleInstance.h"
#include "server/store/Version.h"
#include "server/ui/WindowFront.h"

#include <QApplication>
#include <QDir>
#include <cstdio>
#include <optional>

namespace {
const char* const kUsage =
    "Usage: osprine [/RESETWINDOW]\n"
    "The SMTP server of one Zarvel BBS installation; start it in the BBS's main directory.\n\n"
    "  /RESETWINDOW  forget the saved window position (SaveWindowPos becomes 0)\n"
    "  --help        show this text\n"
    "  --version     show the version\n\n"
    "Without a display, or with OSPRINE_HEADLESS=1, it runs in the console: events go to\n"
    "standard output; SIGTERM or SIGINT stops it, SIGHUP reloads the settings, SIGUSR1\n"
    "prints the counters. osprinectl(8) changes settings and lists from the shell.\n";

// A display that is set but cannot be opened (an ended "ssh -X" session)
// leaves the server in the console, saying why, instead of aborting.
bool Headless() {
    if (qgetenv("OSPRINE_HEADLESS") == "1") return true;
    QString why;
    if (DisplayUsable(why)) return false;
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        std::fprintf(stderr, "osprine: %s; running in the console\n", qPrintable(why));
    return true;
}

// The single-instance check runs before anything is loaded or logged.
template <typename App, typename Front>
int Run(int argc, char** argv, Front front) {
    App app(argc, argv);
    SingleInstance instance(QDir::currentPath());
    QString why;
    switch (instance.Claim(why)) {
    case SingleInstance::Start::RunningCopy:
        std::printf("OSPRINE is already running in %s (pid %lld).\n", qPrintable(QDir::currentPath()),
                    instance.RunningPid());
        return 0;
    case SingleInstance::Start::Refused:
        std::fprintf(stderr, "OSPRINE: %s\n", why.toLocal8Bit().constData());
        return 1;
    case SingleInstance::Start::Alone:
        break;
    }
    Engine engine;
    instance.SetCommandHandler([&engine](const QByteArray& command) { return engine.Control(command); });
    return front(app, engine, instance);
}
}   // namespace

// Usage and version need neither an installation nor a display; an option
// the server does not know ends it with the usage (status 2).
std::optional<int> AnswerOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        if (a == "--version" || a == "-V") {
            std::printf("OSPRINE v%s\n", kVersion);
            return 0;
        }
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!a.toUpper().contains("/RESETWINDOW")) {
            std::fprintf(stderr, "osprine: unknown option %s\n%s", a.constData(), kUsage);
            return 2;
        }
    }
    return std::nullopt;
}

int main(int argc, char** argv) {
    if (const std::optional<int> done = AnswerOptions(argc, argv)) return *done;
    if (Headless()) {
        // The console needs no GLib integration; Qt's own event loop is lighter.
        if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
        return Run<QCoreApplication>(argc, argv, [](QCoreApplication& app, Engine& engine, SingleInstance&) {
            return RunConsoleFront(engine, app.arguments());
        });
    }
    return Run<QApplication>(argc, argv, [](QApplication& app, Engine& engine, SingleInstance& instance) {
        QObject::connect(&instance, &SingleInstance::activateRequested, &engine, &Engine::activateRequested);
        return RunWindowFront(app, engine, app.arguments());
    });
}
