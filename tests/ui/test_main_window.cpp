// The main window on a running engine in a test installation: menus, the
// event window, the tray tip, the window record, the re-configuration after
// the settings dialog and the close request.
#include "UiTestSupport.h"
#include "server/intake/Tossing.h"
#include "server/shell/Engine.h"
#include "server/store/KeyedList.h"
#include "server/store/Statistics.h"
#include "server/ui/AboutDialog.h"
#include "server/ui/ListDialogs.h"
#include "server/ui/MainWindow.h"
#include "server/ui/UpdatePrompt.h"
#include "server/ui/WindowPlacement.h"
#include "tests/support/TempBbs.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QToolButton>

namespace {

TestBbsOptions Options() {
    TestBbsOptions o;
    o.port = FreePort();
    return o;
}

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() : bbs(Options()), previousDir(QDir::currentPath()) { QDir::setCurrent(bbs.Layout().mainDir); }
    ~MainWindowTest() override {
        if (window) window->mnuFileExit_Click();
        window.reset();
        engine.reset();
        QDir::setCurrent(previousDir);
    }
    void Start(const QStringList& args = {}, std::function<void(SettingsRecord&)> edit = {}) {
        if (edit) {
            SettingsRecord s;
            const Text bytes = ReadFileBytes(SettingsPath(bbs.Layout().mainDir));
            DecodeSettings(bytes, s);
            edit(s);
            WriteSettingsFile(bbs.Layout().mainDir, s);
        }
        engine = std::make_unique<Engine>();
        window = std::make_unique<frmMain>(*engine);
        ASSERT_TRUE(engine->Start(args));
        window->LoadDat();
        window->PlaceWindow(args);
        window->ShowStartupInfo();
        window->show();
    }
    QString Main(const QString& name) const { return bbs.Layout().mainDir + "/" + name; }
    QAction* Action(const char* name) const { return window->findChild<QAction*>(name); }

    TempBbs bbs;
    QString previousDir;
    std::unique_ptr<Engine> engine;
    std::unique_ptr<frmMain> window;
};

// SMTP lines from a real socket, each within a bounded wait.
struct SmtpClient {
    QTcpSocket socket;
    QByteArray buffer;
    bool Connect(quint16 port) {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000);
    }
    QByteArray Reply() {
        // A reply ends with a line whose fourth character is a space.
        for (int rounds = 0; rounds < 200; ++rounds) {
            buffer += socket.readAll();
            qsizetype start = 0;
            for (qsizetype end; (end = buffer.indexOf("\r\n", start)) >= 0; start = end + 2) {
                const QByteArray line = buffer.mid(start, end - start);
                if (line.size() >= 4 && line[3] == ' ') {
                    const QByteArray reply = buffer.left(end);
                    buffer.remove(0, end + 2);
                    return reply;
                }
            }
            QTest::qWait(50);
        }
        return {};
    }
    QByteArray Command(const QByteArray& line) {
        socket.write(line + "\r\n");
        return Reply();
    }
};

}   // namespace

TEST_F(MainWindowTest, EveryMenuItemHasItsCaptionAndAccessKey) {
    Start();
    const QStringList menus = {"&File", "&View", "&Settings", "&Help"};
    QStringList bar;
    for (QAction* a : window->menuBar()->actions()) bar << a->text();
    EXPECT_EQ(bar, menus);
    const struct {
        const char* name;
        const char* caption;
    } items[] = {
        {"mnuFileExit", "E&xit"},
        {"mnuViewLog", "&View Log"},
        {"mnuSettingsConfiguration", "OSPRINE &Configuration"},
        {"mnuSettingsDomains", "Secondary &Domains"},
        {"mnuSettingsZarvInet", "ZARV &Internet Configuration"},
        {"mnuSettingsMailingList", "&Mailing List Configuration"},
        {"mnuSettingsInetTwit", "&TWIT.LST Configuration"},
        {"mnuSettingsAliases", "&User Aliases"},
        {"mnuSettingsForwarding", "Mail &Forwarding"},
        {"mnuSettingsPassThru", "Mail &Pass-Thru"},
        {"mnuToolsFilterExempt", "Filter &Exemptions"},
        {"mnuSettingsIpConfig", "Allow/Block IP &Addresses"},
        {"mnuSettingsRelayTest", "&Relay DB Configuration"},
        {"mnuSettingsHeaderFilter", "&Header Filter"},
        {"mnuSettingsSubjectFilter", "&Subject Filter"},
        {"mnuHelpWebsite", "OSPRINE &Home Page"},
        {"mnuHelpDocs", "OSPRINE &Documentation"},
        {"mnuHelpSupport", "OSPRINE &Support"},
        {"mnuHelpUpdate", "&Check for Updates"},
        {"mnuHelpDonate", "&Donate"},
        {"mnuHelpAbout", "&About"},
        {"mnuDebugClear", "Clear Window"},
        {"mnuTrayArray", "Exit"},
    };
    for (const auto& item : items) {
        ASSERT_TRUE(Action(item.name)) << item.name;
        EXPECT_EQ(Action(item.name)->text(), item.caption) << item.name;
    }
    QStringList settings;
    for (QAction* a : window->findChild<QMenu*>("mnuSettings")->actions())
        settings << (a->isSeparator() ? "-" + a->objectName() : a->objectName());
    EXPECT_EQ(settings, (QStringList{"mnuSettingsConfiguration", "mnuSettingsDomains", "-mnuSettingsSeperator",
                                     "mnuSettingsZarvInet", "mnuSettingsMailingList", "mnuSettingsInetTwit",
                                     "-mnuSettingsSeperator0", "mnuSettingsAliases", "mnuSettingsForwarding",
                                     "mnuSettingsPassThru", "mnuToolsFilterExempt", "-mnuSettingsSeperator1",
                                     "mnuSettingsIpConfig", "mnuSettingsRelayTest", "mnuSettingsHeaderFilter",
                                     "mnuSettingsSubjectFilter"}));
    EXPECT_EQ(window->findChild<QMenu*>("mnuDebug")->title(), "Debug Menu Options");
    EXPECT_EQ(window->findChild<QMenu*>("mnuTray")->title(), "Tray Options");
    EXPECT_EQ(window->findChild<QToolButton*>("picShrink")->toolTip(), "Hide statistics.");
    EXPECT_EQ(window->findChild<QToolButton*>("picExpand")->toolTip(), "Show statistics.");
    EXPECT_EQ(window->findChild<QLabel*>("picStatusGreen")->toolTip(), "Server is in Normal Operation Mode");
    EXPECT_EQ(window->findChild<QLabel*>("picStatusYellow")->toolTip(), "Server is in Offline Mode");
    EXPECT_EQ(window->findChild<QLabel*>("picStatusRed")->toolTip(), "Server is Stopped");
    const struct {
        const char* name;
        const char* caption;
    } stats[] = {
        {"lblTotalConnections", "Total Connections"},    {"lblActiveConnections", "Active Connections"},
        {"lblTotalIncoming", "Total Incoming"},          {"lblTotalOutgoing", "Total Outgoing"},
        {"lblTotalReceived", "Total Received"},          {"lblTotalSent", "Total Sent"},
        {"lblTotalBlockedIps", "Blocked IPs"},           {"lblTotalBlockedRelays", "Blocked Relays"},
        {"lblTotalBlockedSubjects", "Blocked Subjects"}, {"lblTotalBlockedHeaders", "Blocked Headers"},
    };
    for (const auto& s : stats) {
        ASSERT_TRUE(window->findChild<QLabel*>(s.name)) << s.name;
        EXPECT_EQ(window->findChild<QLabel*>(s.name)->text(), s.caption);
        EXPECT_TRUE(window->findChild<QLabel*>(QString(s.name) + "Value")) << s.name;
    }
    EXPECT_TRUE(window->findChild<QLabel*>("lblTotalKBReceivedValue"));
    EXPECT_TRUE(window->findChild<QLabel*>("lblTotalKBSentValue"));
    QStringList help;
    for (QAction* a : window->findChild<QMenu*>("mnuHelp")->actions())
        help << (a->isSeparator() ? "-" + a->objectName() : a->objectName());
    EXPECT_EQ(help, (QStringList{"mnuHelpWebsite", "mnuHelpDocs", "mnuHelpSupport", "-mnuHelpSeperator",
                                 "mnuHelpUpdate", "-mnuHelpSeperator0", "mnuHelpDonate", "mnuHelpAbout"}));
    // Neither pop-up menu is on the menu bar.
    for (QAction* a : window->menuBar()->actions()) {
        EXPECT_NE(a->menu()->objectName(), "mnuDebug");
        EXPECT_NE(a->menu()->objectName(), "mnuTray");
    }
}

TEST(MainWindowDesign, InformationLabelBeforeTheStart) {
    Engine engine;
    frmMain window(engine);
    EXPECT_EQ(window.findChild<QLabel*>("lblInfo")->text(), "OSPRINE");
    EXPECT_EQ(window.findChild<QPlainTextEdit*>("txtDebug")->toPlainText(), "");
}

TEST_F(MainWindowTest, CaptionInformationAndStatistics) {
    Start();
    EXPECT_EQ(window->windowTitle(), "OSPRINE - Demo Zarvel BBS");
    const QStringList info = window->findChild<QLabel*>("lblInfo")->text().split('\n');
    ASSERT_EQ(info.size(), 3);
    EXPECT_TRUE(info[0].startsWith("OSPRINE [1.4.060711] executed @ "));
    EXPECT_EQ(info[2], "Local Domain: bbs.example");
    const QDateTime at(QDate(2006, 7, 1), QTime(9, 5, 7));
    EXPECT_EQ(
        frmMain::StartupInfo(at, "x.example"),
        "OSPRINE [1.4.060711] executed @ 09:05:07 07/01/2006\r\nhttps://www.osprine.example/\r\nLocal Domain: x.example");
    engine->Stats().TotalReceived = 3;
    engine->Stats().KBReceived = 2048;
    engine->UpdateStats();
    EXPECT_EQ(window->findChild<QLabel*>("lblTotalReceivedValue")->text(), "3");
    EXPECT_EQ(window->findChild<QLabel*>("lblTotalKBReceivedValue")->text(), "2MB");
}

TEST_F(MainWindowTest, EventWindowIsClearedPastSixtyFiveThousandCharacters) {
    Start();
    window->mnuDebugClear_Click();
    const Text line(98, 'x');   // 100 characters with its CR LF
    for (int i = 0; i < 650; ++i) window->ShowEvent(line);
    EXPECT_EQ(window->EventText().count('\n'), 649);   // exactly 65000 characters: kept
    window->ShowEvent(line);
    EXPECT_EQ(window->EventText().count('\n'), 650);   // 65100: over the limit ...
    window->ShowEvent("last");
    EXPECT_EQ(window->EventText(), "last");   // ... so the next line starts afresh
    Action("mnuDebugClear")->trigger();
    EXPECT_EQ(window->EventText(), "");
}

TEST_F(MainWindowTest, TrayTipTellsStateConnectionsAndUptime) {
    Start({}, [](SettingsRecord& s) { s.MinToTray = 1; });
    engine->Run().StartTime = QDateTime::currentDateTime().addSecs(-(86400 + 3600 * 2 + 60 * 3 + 4));
    EXPECT_EQ(window->TrayTip(), "OSPRINE - Online\r\nActive Connections: 0\r\nUptime: 1d 2h 3m 4s");
    EXPECT_TRUE(window->Tray()->isVisible());
    EXPECT_EQ(window->Tray()->toolTip(), "OSPRINE - Online");
    EXPECT_TRUE(window->CheckIcon());
    engine->Run().ServerState = ServerPhase::Closing;
    EXPECT_FALSE(window->CheckIcon());
    engine->Run().ServerState = ServerPhase::Online;
}

TEST_F(MainWindowTest, TrayIconFollowsEveryStateAndItsTipHolds127Bytes) {
    Start({}, [](SettingsRecord& s) { s.MinToTray = 1; });
    engine->Run().ServerState = ServerPhase::Stopped;
    EXPECT_TRUE(window->CheckIcon());
    EXPECT_EQ(window->Tray()->toolTip(), "OSPRINE - Stopped");
    EXPECT_TRUE(window->TrayTip().startsWith("OSPRINE - Stopped\r\nActive Connections: "));
    engine->Run().ServerState = ServerPhase::Offline;
    EXPECT_TRUE(window->CheckIcon());
    EXPECT_EQ(window->Tray()->toolTip(), "OSPRINE - Offline");
    EXPECT_TRUE(window->TrayTip().startsWith("OSPRINE - Offline\r\n"));
    engine->Run().ServerState = ServerPhase::Online;
    EXPECT_TRUE(window->CheckIcon());
    EXPECT_EQ(window->Tray()->toolTip(), "OSPRINE - Online");

    EXPECT_TRUE(window->ModifyIcon(QString(130, 'x'), -1));
    EXPECT_EQ(window->Tray()->toolTip(), QString(127, 'x'));
    EXPECT_TRUE(window->RemoveIcon());
    EXPECT_FALSE(window->ModifyIcon("OSPRINE - Online", 101));   // nothing to modify
    EXPECT_TRUE(window->AddIcon(QString(128, 'y'), 101));
    EXPECT_EQ(window->Tray()->toolTip(), QString(127, 'y'));
    // Refusals of abuse follow the uptime, whole.
    engine->Stats().RefusedPerAddress = 44;
    engine->Stats().SessionTimeLimits = 3;
    EXPECT_TRUE(window->TrayTip().endsWith("\r\nRefused: 44 per address, 3 time limit, 0 recipients, 0 loops"));
    EXPECT_TRUE(window->ModifyIcon(window->TrayTip(), -1));
    EXPECT_EQ(window->Tray()->toolTip(), window->TrayTip());
    EXPECT_FALSE(window->AddIcon("OSPRINE - Online", 101));   // already there
}

namespace {

// Receives the addresses the desktop would open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
    Q_INVOKABLE void open(const QUrl& url) { urls << url; }
};

}   // namespace

// A tosser flag left for more than half an hour holds the BBS's mail back:
// the green lamp goes dark and the yellow one names the flag.
TEST_F(MainWindowTest, AStaleTosserFlagShowsOnTheLamps) {
    Start();
    auto* green = window->findChild<QLabel*>("picStatusGreen");
    auto* yellow = window->findChild<QLabel*>("picStatusYellow");
    const qint64 lit = green->pixmap().cacheKey();
    QFile flag(Main("BTHOLD.FLG"));
    ASSERT_TRUE(flag.open(QIODevice::WriteOnly));
    flag.close();
    ASSERT_TRUE(flag.open(QIODevice::ReadWrite));
    ASSERT_TRUE(flag.setFileTime(QDateTime::currentDateTime().addSecs(-31 * 60), QFileDevice::FileModificationTime));
    flag.close();
    TossMessages(engine->Context());
    QTest::qWait(1300);   // the window's one-second tick
    EXPECT_NE(green->pixmap().cacheKey(), lit);
    EXPECT_EQ(yellow->toolTip(), "Tossing is held by a stale flag: " + Main("BTHOLD.FLG"));
    ASSERT_TRUE(QFile::remove(Main("BTHOLD.FLG")));
    TossMessages(engine->Context());
    QTest::qWait(1300);
    EXPECT_EQ(yellow->toolTip(), "Server is in Offline Mode");
}

TEST_F(MainWindowTest, ViewLogOpensTheEventLogOnlyWhenItExists) {
    Start();
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("file", &opened, "open");
    const QString log = engine->Log().LogPath();
    QFile::remove(log);
    Action("mnuViewLog")->trigger();
    EXPECT_TRUE(opened.urls.isEmpty());
    engine->Log().OsprineLog(0, "a line");
    ASSERT_TRUE(FileExists(log));
    Action("mnuViewLog")->trigger();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile(log));
}

TEST_F(MainWindowTest, SettingsDialogSwitchesTheOutboundTimer) {
    Start({}, [](SettingsRecord& s) { s.SmtpClient = 1; });
    EXPECT_TRUE(engine->OutboundTimerActive());
    auto setClient = [&](bool on) {
        WhenModal([on](QWidget* d) {
            d->findChild<QCheckBox*>("SmtpClient")->setChecked(on);
            d->findChild<QPushButton*>("cmdOK")->click();
        });
        Action("mnuSettingsConfiguration")->trigger();
    };
    setClient(false);
    EXPECT_EQ(engine->Settings().SmtpClient, 0);
    EXPECT_FALSE(engine->OutboundTimerActive());
    setClient(true);
    EXPECT_EQ(engine->Settings().SmtpClient, 1);
    EXPECT_TRUE(engine->OutboundTimerActive());
}

TEST_F(MainWindowTest, ShrinkAndExpandSaveTheirWidthInTheWindowRecord) {
    Start({}, [](SettingsRecord& s) { s.SaveWindowPos = 1; });
    window->findChild<QToolButton*>("picShrink")->click();
    EXPECT_EQ(window->width(), 7065 / 15);
    EXPECT_FALSE(window->findChild<QToolButton*>("picShrink")->isVisible());
    EXPECT_TRUE(window->findChild<QToolButton*>("picExpand")->isVisible());
    Text record = ReadFileBytes(Main("OSPRINE.DAT"));
    ASSERT_EQ(record.size(), 12);
    EXPECT_EQ(record.mid(10, 2), Text("\x01\x00", 2));
    window->findChild<QToolButton*>("picExpand")->click();
    EXPECT_EQ(window->width(), 10185 / 15);
    record = ReadFileBytes(Main("OSPRINE.DAT"));
    EXPECT_EQ(record.mid(10, 2), Text("\x00\x00", 2));
}

TEST_F(MainWindowTest, StoredPositionIsUsedAndResetWindowForgetsIt) {
    WindowRecord stored;
    stored.WindowTop = 1500;
    stored.WindowLeft = 3000;
    stored.WindowShrunk = 1;
    WriteFileAtomic(Main("OSPRINE.DAT"), EncodeWindow(stored));
    Start({"osprine"}, [](SettingsRecord& s) { s.SaveWindowPos = 1; });
    EXPECT_EQ(engine->Window().WindowTop, 1500);
    EXPECT_EQ(window->width(), 7065 / 15);
    window->mnuFileExit_Click();
    window.reset();
    engine.reset();

    Start({"osprine", "/resetWindow"});
    EXPECT_EQ(engine->Settings().SaveWindowPos, 0);
    EXPECT_FALSE(FileExists(Main("OSPRINE.DAT")));
    const Text cfg = ReadFileBytes(SettingsPath(bbs.Layout().mainDir));
    EXPECT_EQ(cfg.mid(214, 2), Text("\x00\x00", 2));
}

TEST_F(MainWindowTest, AWindowLeftMinimisedStartsMinimisedAndItsRecordIsWrittenBack) {
    WindowRecord stored;
    stored.WindowTop = 1500;
    stored.WindowLeft = 3000;
    stored.WindowMinimized = 1;
    WriteFileAtomic(Main("OSPRINE.DAT"), EncodeWindow(stored));
    Start({"osprine"}, [](SettingsRecord& s) {
        s.SaveWindowPos = 1;
        s.MinToTray = 0;
    });
    EXPECT_TRUE(window->isMinimized());
    window->mnuFileExit_Click();
    EXPECT_EQ(ReadFileBytes(Main("OSPRINE.DAT")), Text("\xDC\x05\x00\x00\xB8\x0B\x00\x00\x01\x00\x00\x00", 12));
}

TEST_F(MainWindowTest, AWindowRecordThatCannotBeWrittenIsReported) {
    QDir().mkpath(Main("OSPRINE.DAT"));   // a directory where the record belongs
    Start({}, [](SettingsRecord& s) { s.SaveWindowPos = 1; });
    EXPECT_TRUE(window->EventText().contains("Error: Error While Loading OSPRINE.DAT"));
    window->findChild<QToolButton*>("picShrink")->click();
    EXPECT_TRUE(window->EventText().contains("Error: Error While Saving OSPRINE.DAT"));
    const Text log = ReadFileBytes(engine->Log().LogPath());
    EXPECT_TRUE(log.contains("Error While Loading OSPRINE.DAT")) << log.toStdString();
    EXPECT_TRUE(log.contains("Error While Saving OSPRINE.DAT"));
    const Text errors = ReadFileBytes(Main("ZRVERROR.LOG"));
    EXPECT_TRUE(errors.contains("LoadDat")) << errors.toStdString();
    EXPECT_TRUE(errors.contains("SaveDat"));
}

TEST(WindowPlacement, OffScreenPositionsAreCentred) {
    QTemporaryDir dir;
    SettingsRecord s;
    s.SaveWindowPos = 1;
    WindowRecord far;
    far.WindowTop = 20000;
    far.WindowLeft = 100;
    WriteFileAtomic(WindowPath(dir.path()), EncodeWindow(far));
    WindowRecord w;
    ASSERT_TRUE(LoadWindowRecord(w, s, dir.path(), QSize(20000, 15000), QSize(10185, 6000)));
    EXPECT_EQ(w.WindowTop, 4500);
    EXPECT_EQ(w.WindowLeft, 4907);
    // A window dragged wholly off the screen keeps the stored position.
    ASSERT_TRUE(SaveWindowRecord(w, s, dir.path(), QSize(20000, 15000), QSize(10185, 6000), QPointF(-20000, 50)));
    EXPECT_EQ(DecodeWindow(ReadFileBytes(WindowPath(dir.path()))).WindowLeft, 4907);
    ASSERT_TRUE(SaveWindowRecord(w, s, dir.path(), QSize(20000, 15000), QSize(10185, 6000), QPointF(30.4, 60.6)));
    EXPECT_EQ(DecodeWindow(ReadFileBytes(WindowPath(dir.path()))).WindowTop, 61);
    s.SaveWindowPos = 0;
    ASSERT_TRUE(LoadWindowRecord(w, s, dir.path(), QSize(20000, 15000), QSize(10185, 6000)));
    EXPECT_FALSE(FileExists(WindowPath(dir.path())));
}

TEST_F(MainWindowTest, SettingsDialogReopensTheListenerAndDropsTheStatisticsFile) {
    Start({}, [](SettingsRecord& s) { s.SaveStats = 1; });
    WriteFileAtomic(Main("OSPRSTAT.DAT"), Text(44, '\0'));
    const quint16 newPort = FreePort();
    bool dialogOpenSeen = false;
    WhenModal([&](QWidget* d) {
        dialogOpenSeen = window->DialogOpen();
        d->findChild<QLineEdit*>("Port")->setText(QString::number(newPort));
        d->findChild<QCheckBox*>("SaveStats")->setChecked(false);
        d->findChild<QCheckBox*>("MinToTray")->setChecked(false);
        d->findChild<QPushButton*>("cmdOK")->click();
    });
    Action("mnuSettingsConfiguration")->trigger();
    EXPECT_TRUE(dialogOpenSeen);
    EXPECT_FALSE(window->DialogOpen());
    EXPECT_EQ(engine->Settings().Port, newPort);
    EXPECT_FALSE(FileExists(Main("OSPRSTAT.DAT")));
    EXPECT_FALSE(window->Tray()->isVisible());
    SmtpClient client;
    ASSERT_TRUE(client.Connect(newPort));
    EXPECT_TRUE(client.Reply().startsWith("220"));
}

TEST_F(MainWindowTest, AnAliasAddedThroughTheDialogIsAcceptedOnTheNextRcpt) {
    Start();
    SmtpClient client;
    ASSERT_TRUE(client.Connect(engine->Settings().Port));
    ASSERT_TRUE(client.Reply().startsWith("220"));
    ASSERT_TRUE(client.Command("HELO client.example").startsWith("250"));
    ASSERT_TRUE(client.Command("MAIL FROM:<a@client.example>").startsWith("250"));
    EXPECT_FALSE(client.Command("RCPT TO:<webmaster@bbs.example>").startsWith("250"));
    // The sysop's handle joins the handle index on first use (AutoVerify).
    ASSERT_TRUE(client.Command("RCPT TO:<sysop@bbs.example>").startsWith("250"));

    WhenModal([](QWidget* list) {
        list->findChild<QPushButton*>("cmdInsert")->click();
        WhenModal([list](QWidget* edit) {
            edit->findChild<QLineEdit*>("alias")->setText("webmaster");
            edit->findChild<QLineEdit*>("username")->setText("1");
            edit->findChild<QPushButton*>("cmdOK")->click();
            list->findChild<QPushButton*>("cmdClose")->click();
        });
        list->findChild<QPushButton*>("cmdEdit")->click();
    });
    Action("mnuSettingsAliases")->trigger();
    EXPECT_EQ(GetData("aliases", KeyedListPath(bbs.Layout().mainDir)), "webmaster,1");
    const QByteArray reply = client.Command("RCPT TO:<webmaster@bbs.example>");
    EXPECT_TRUE(reply.startsWith("250")) << reply.toStdString();
}

TEST_F(MainWindowTest, CloseBoxMinimisesWithCloseToTaskbarAndExitEndsTheServer) {
    Start({}, [](SettingsRecord& s) {
        s.CloseToTaskbar = 1;
        s.MinToTray = 0;
    });
    QSignalSpy unloaded(window.get(), &frmMain::unloaded);
    window->close();
    EXPECT_EQ(unloaded.count(), 0);
    EXPECT_EQ(engine->Run().ServerState, ServerPhase::Online);
    EXPECT_TRUE(window->isMinimized());
    Action("mnuFileExit")->trigger();
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_EQ(engine->Run().ServerState, ServerPhase::Closing);
}

TEST_F(MainWindowTest, UpdatePromptStartsTheUtilityWithTheChosenType) {
    Start();
    window->SetProgramDir(bbs.Layout().tempDir);   // the build's own ZRVUpdate must not be found
    auto missing = AnswerBox();
    Action("mnuHelpUpdate")->trigger();
    EXPECT_EQ(missing->title, "ZRV Update");
    EXPECT_EQ(missing->icon, QMessageBox::Information);
    EXPECT_EQ(missing->text,
              "ZRV Update is not installed.\r\nRe-install OSPRINE using the setup package, or\r\n"
              "download it at \"https://www.osprine.example/zrvupdate/\"");

    // A stand-in utility that writes down its arguments and working directory.
    const QString program = Main("ZRVUpdate");
    WriteFileAtomic(program, "#!/bin/sh\necho \"$1 $(pwd)\" > started.txt\n");
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    Action("mnuHelpUpdate")->trigger();
    auto* prompt = window->findChild<frmUpdate*>();
    ASSERT_TRUE(prompt);
    auto* type = prompt->findChild<QComboBox*>("updatetype");
    EXPECT_EQ(type->currentIndex(), 2);
    EXPECT_EQ(prompt->windowTitle(), "ZRV Update");
    EXPECT_FALSE(prompt->isModal());
    EXPECT_EQ(prompt->parentWidget(), window.get());
    ASSERT_TRUE(prompt->findChild<QGroupBox*>());
    EXPECT_EQ(prompt->findChild<QGroupBox*>()->title(), "Update Type");
    ASSERT_EQ(type->count(), 3);
    EXPECT_EQ(type->itemText(0), "Latest Build");
    EXPECT_EQ(type->itemText(1), "Unofficial and Official Releases");
    EXPECT_EQ(type->itemText(2), "Official Releases");
    EXPECT_EQ(prompt->TypeArgument(), "/TYPE=3");
    type->setCurrentIndex(0);
    prompt->cmdOK_Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return FileExists(Main("started.txt")); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReadFileText(Main("started.txt")).endsWith("\n"); }, 2000));
    EXPECT_EQ(ReadFileText(Main("started.txt")),
              "/TYPE=1 " + QDir(bbs.Layout().mainDir).canonicalPath().toLatin1() + "\n");
}

TEST_F(MainWindowTest, AboutBoxShowsVersionUptimeAndMemory) {
    Start();
    bool checked = false;
    WhenModal([&](QWidget* about) {
        EXPECT_EQ(about->objectName(), "frmAbout");
        EXPECT_EQ(about->findChild<QLabel*>("lblVersion")->text(), "Version 1.4.060711");
        EXPECT_TRUE(about->findChild<QLabel*>("lblUptime")->text().startsWith("Uptime: 0 days, 0 hours, "));
        EXPECT_TRUE(about->findChild<QLabel*>("lblMemoryUsage")->text().startsWith("RAM Usage: "));
        EXPECT_EQ(
            about->findChild<QLabel*>("lblDisclaimer")->text(),
            "If you have any suggestions or comments regarding this program, send an email to support@osprine.example.");
        EXPECT_FALSE(about->findChild<QPushButton*>("cmdSysInfo")->isEnabled());
        checked = true;
        about->findChild<QPushButton*>("cmdOk")->click();
    });
    Action("mnuHelpAbout")->trigger();
    EXPECT_TRUE(checked);
}

TEST(About, MemoryComesFromTheProcessCounters) {
    QTemporaryDir dir;
    const QString status = dir.path() + "/status";
    WriteFileAtomic(status, "Name:\tosprine\nVmRSS:\t   12345 kB\nVmSwap:\t       7 kB\n");
    const ProcessMemory m = ReadProcessMemory(status);
    EXPECT_EQ(m.workingSetKB, 12345);
    EXPECT_EQ(m.pagefileKB, 7);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(MemoryUsageText(m), "RAM Usage: 12,345KB  /  Pagefile Usage: 7KB");
}

TEST_F(MainWindowTest, TrayDoubleClickHidesAndRestoresButNotWhileADialogIsOpen) {
    Start({}, [](SettingsRecord& s) { s.MinToTray = 1; });
    window->TrayDoubleClick();
    EXPECT_FALSE(window->isVisible());
    window->TrayDoubleClick();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());

    bool stayedVisible = false;
    WhenModal([&](QWidget* about) {
        window->TrayDoubleClick();   // beeps and brings the window forward
        stayedVisible = window->isVisible() && !window->isMinimized();
        about->findChild<QPushButton*>("cmdOk")->click();
    });
    Action("mnuHelpAbout")->trigger();
    EXPECT_TRUE(stayedVisible);
}

TEST_F(MainWindowTest, MinimisingHidesTheWindowOnlyWhenItLivesInTheTray) {
    Start({}, [](SettingsRecord& s) { s.MinToTray = 0; });
    window->showMinimized();
    QTest::qWait(50);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(engine->Window().WindowMinimized, 1);
    window->showNormal();
    EXPECT_EQ(engine->Window().WindowMinimized, 0);
    engine->Settings().MinToTray = 1;
    window->showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 1000));
}

TEST_F(MainWindowTest, ListenerStaysOnItsPortWhileASessionIsActive) {
    Start();
    const quint16 oldPort = engine->Settings().Port;
    SmtpClient session;
    ASSERT_TRUE(session.Connect(oldPort));
    ASSERT_TRUE(session.Reply().startsWith("220"));
    ASSERT_TRUE(engine->IsActive());
    const quint16 newPort = FreePort();
    WhenModal([&](QWidget* d) {
        EXPECT_FALSE(d->findChild<QLineEdit*>("Port")->isEnabled());
        d->findChild<QCheckBox*>("AllowExpn")->setChecked(true);
        d->findChild<QPushButton*>("cmdOK")->click();
    });
    Action("mnuSettingsConfiguration")->trigger();
    EXPECT_EQ(engine->Settings().Port, oldPort);
    EXPECT_EQ(engine->Settings().AllowExpn, 1);
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, newPort);
    EXPECT_FALSE(probe.waitForConnected(500));
    SmtpClient second;
    EXPECT_TRUE(second.Connect(oldPort));
}

TEST_F(MainWindowTest, NetworkDialogFromTheMenuRebuildsTheInformation) {
    Start();
    WhenModal([](QWidget* d) {
        EXPECT_EQ(d->objectName(), "zarvnetinet");
        d->findChild<QLineEdit*>("SystemId")->setText("new.example");
        d->findChild<QPushButton*>("cmdOK")->click();
    });
    Action("mnuSettingsZarvInet")->trigger();
    EXPECT_EQ(engine->Bbs().systemId, "new.example");
    EXPECT_TRUE(window->findChild<QLabel*>("lblInfo")->text().endsWith("Local Domain: new.example"));
}

#include "test_main_window.moc"
