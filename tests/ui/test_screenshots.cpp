// Pictures of the windows for the documentation. Runs only when
// OSPRINE_SCREENSHOT_DIR names a folder, under a real X server:
//   QT_QPA_PLATFORM=xcb OSPRINE_SCREENSHOT_DIR=docs xvfb-run -a test_ui --gtest_filter='Screenshots.*'
#include "UiTestSupport.h"
#include "server/shell/Engine.h"
#include "server/store/KeyedList.h"
#include "server/ui/ListDialogs.h"
#include "server/ui/MainWindow.h"
#include "server/ui/NetworkDialogs.h"
#include "server/ui/ServerConfigDialog.h"
#include "tests/support/TempBbs.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QTabBar>
#include <QTcpSocket>
#include <QTest>

namespace {

QString ShotDir() { return qEnvironmentVariable("OSPRINE_SCREENSHOT_DIR"); }

void Shoot(QWidget& w, const QString& name) {
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(200);
    const QString file = QDir(ShotDir()).filePath(name);
    ASSERT_TRUE(w.grab().save(file)) << file.toStdString();
}

// One short SMTP conversation, so the event window and counters have something to show.
void SendOneMessage(quint16 port) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(s.waitForConnected(5000));
    for (const char* line :
         {"HELO visitor.example", "MAIL FROM:<visitor@example.org>", "RCPT TO:<sysop@bbs.example>", "DATA",
          "From: visitor@example.org\r\nTo: sysop@bbs.example\r\nSubject: Hello\r\n\r\nA first message.\r\n.",
          "QUIT"}) {
        (void)QTest::qWaitFor([&] { return s.bytesAvailable() > 0; }, 3000);
        s.readAll();
        s.write(QByteArray(line) + "\r\n");
    }
    (void)QTest::qWaitFor([&] { return s.state() != QAbstractSocket::ConnectedState; }, 3000);
}

}   // namespace

TEST(Screenshots, DialogsAndMainWindow) {
    if (ShotDir().isEmpty()) GTEST_SKIP() << "OSPRINE_SCREENSHOT_DIR not set";
    TestBbsOptions options;
    options.port = FreePort();
    TempBbs bbs(options);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(bbs.Layout().mainDir);
    const QString file = KeyedListPath(bbs.Layout().mainDir);
    PutData("aliases", "sales,12;webmaster,sysop;help,help desk;abuse,1", file);
    {
        Engine engine;
        frmMain window(engine);
        ASSERT_TRUE(engine.Start({}));
        window.LoadDat();
        window.PlaceWindow({});
        window.ShowStartupInfo();
        window.show();
        SendOneMessage(engine.Settings().Port);
        QTest::qWait(1500);
        Shoot(window, "main-window.png");

        frmServerConfig config(window.Ui());
        auto* tabs = config.findChild<QTabBar*>("tbsOptions");
        const char* names[] = {"settings-server.png", "settings-client.png", "settings-misc.png", "settings-keyed.png"};
        for (int i = 0; i < 4; ++i) {
            tabs->setCurrentIndex(i);
            Shoot(config, names[i]);
        }
        config.reject();

        ListDialog aliases(window.Ui(), *FindListMember("frmAliases"));
        Shoot(aliases, "list-aliases.png");
        aliases.reject();

        zarvnetinet network(window.Ui());
        Shoot(network, "network-internet.png");
        network.hide();
        window.mnuFileExit_Click();
    }
    QDir::setCurrent(previous);
}
