// ZRVUpdate: lists newer versions of the BBS family's programs.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <memory>
#include "updater/ConsoleUpdate.h"
#include "updater/MainWindow.h"
#include "updater/SingleInstance.h"

static bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

static int RunConsole(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString workDir = QDir::currentPath();
    SingleInstance instance(QStringLiteral("ZRVUpdate"), workDir);
    if (!instance.Claim()) return 0;

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
    if (!instance.Claim()) return 0;

    QObject::connect(&instance, &SingleInstance::ActivationRequested, &window, &frmMain::BringToFront);
    QObject::connect(&window, &frmMain::Ended, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    window.FormLoad(app.arguments().mid(1), workDir);
    return app.exec();
}

int main(int argc, char** argv) { return HasDisplay() ? RunWindow(argc, argv) : RunConsole(argc, argv); }
