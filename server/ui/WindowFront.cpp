#include "server/ui/WindowFront.h"

#include "server/shell/Engine.h"
#include "server/shell/SignalPipe.h"
#include "server/store/Files.h"
#include "server/ui/Latin1.h"
#include "server/ui/MainWindow.h"
#include "server/ui/NetworkDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QStatusBar>
#include <csignal>

namespace {

// A message that does not end the program: shown without stopping the loop.
void ShowBox(QWidget* parent, const QByteArray& title, const QByteArray& text) {
    const auto icon = title.contains("Error") ? QMessageBox::Critical : QMessageBox::Information;
    auto* box = new QMessageBox(icon, Q(title), Q(text), QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// A listener that could not be opened is said in the status area until a
// new port opens (the settings dialog's, or a reload's).
void ShowListenState(QMainWindow& window, const Engine& engine) {
    if (engine.Listening()) {
        if (auto* bar = window.findChild<QStatusBar*>()) bar->clearMessage();
        return;
    }
    window.statusBar()->showMessage(Q("Not listening: " + engine.ListenFailure()));
}

}   // namespace

int RunWindowFront(QApplication& app, Engine& engine, const QStringList& arguments) {
    app.setQuitOnLastWindowClosed(false);   // the window may live in the tray
    frmMain window(engine);
    int status = 0;
    bool started = false;

    QObject::connect(&engine, &Engine::messageBox, &window,
                     [&window](const QByteArray& title, const QByteArray& text) { ShowBox(&window, title, text); });
    QObject::connect(&engine, &Engine::fatalError, &window, [&](const QByteArray& title, const QByteArray& text) {
        QMessageBox::critical(started ? &window : nullptr, Q(title), Q(text));
        status = 1;
        window.RemoveIcon();
        if (started) QCoreApplication::exit(1);
    });
    QObject::connect(&window, &frmMain::unloaded, &app, [] { QCoreApplication::exit(0); });
    // SIGTERM and SIGINT (a desktop session that ends sends SIGTERM) shut
    // down in order as File > Exit does; SIGHUP reloads the settings.
    SignalPipe signalPipe([&window, &engine](int signal) {
        if (signal == SIGHUP)
            engine.Reload();
        else
            window.mnuFileExit_Click();
    });
    signalPipe.Install({SIGTERM, SIGINT, SIGHUP});
    // An unusable spool directory can be mended in the network dialog.
    engine.onInvalidSpoolDir = [&window, &engine] {
        bool mended = false;
        window.RunDialog([&] {
            zarvnetinet dialog(window.Ui(), &window);
            dialog.exec();
            mended = !dialog.Uninstalled() && ReadNetCfg(engine.Bbs()) == NetCfgResult::Ok;
        });
        return mended;
    };

    if (!engine.Start(arguments)) return 1;
    started = true;
    QObject::connect(&engine, &Engine::stateChanged, &window, [&window, &engine] {
        if (engine.Run().ServerState == ServerPhase::Online) ShowListenState(window, engine);
    });
    ShowListenState(window, engine);
    window.LoadDat();
    window.PlaceWindow(arguments);
    window.ShowStartupInfo();
    window.show();
    const int rc = app.exec();
    if (engine.Run().ServerState != ServerPhase::Closing) engine.Shutdown();
    return status ? status : rc;
}
