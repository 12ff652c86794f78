#include "server/ui/WindowFront.h"

#include "server/shell/Engine.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>

int RunWindowFront(QApplication& app, Engine& engine, const QStringList& arguments) {
    QMainWindow window;
    window.setObjectName("frmMain");
    int status = 0;
    QObject::connect(&engine, &Engine::fatalError, &window, [&](const QByteArray& title, const QByteArray& text) {
        QMessageBox::critical(&window, QString::fromLatin1(title), QString::fromLatin1(text));
        status = 1;
    });
    if (!engine.Start(arguments)) return 1;
    window.show();
    const int rc = app.exec();
    engine.Shutdown();
    return status ? status : rc;
}
