// osprine: the SMTP server of one BBS installation, started in its main
// directory. Without a display (or with OSPRINE_HEADLESS=1) it runs in the
// console; otherwise it shows its main window.
#include "server/shell/ConsoleFront.h"
#include "server/shell/Engine.h"
#include "server/shell/SingleInstance.h"
#include "server/ui/WindowFront.h"

#include <QApplication>
#include <QDir>

namespace {
bool Headless() {
    return qgetenv("OSPRINE_HEADLESS") == "1" ||
           (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"));
}

// The single-instance check runs before anything is loaded or logged.
template <typename App, typename Front>
int Run(int argc, char** argv, Front front) {
    App app(argc, argv);
    SingleInstance instance(QDir::currentPath());
    if (instance.ActivateRunningCopy()) return 0;
    instance.Listen();
    Engine engine;
    return front(app, engine, instance);
}
}  // namespace

int main(int argc, char** argv) {
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
