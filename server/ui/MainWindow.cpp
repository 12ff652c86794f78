#include "server/ui/MainWindow.h"

#include "server/intake/Tossing.h"

#include "server/shell/Engine.h"
#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"
#include "server/ui/AboutDialog.h"
#include "server/ui/HelpPages.h"
#include "server/ui/IpConfigDialog.h"
#include "server/ui/Latin1.h"
#include "server/ui/ListDialogs.h"
#include "server/ui/MailingLists.h"
#include "server/ui/NetworkDialogs.h"
#include "server/ui/RelayConfigDialog.h"
#include "server/ui/ServerConfigDialog.h"
#include "server/ui/UpdatePrompt.h"
#include "server/ui/WindowPlacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QColor kGreenLamp(30, 170, 60);

constexpr qsizetype kEventWindowLimit = 65000;
constexpr int kWindowHeight = 420;

// One line of the statistics panel: a caption and the value's label (named
// as the caption with "Value"); a line without a caption carries a second
// value of the line above, the kilobytes.
struct StatRow {
    const char* name;
    const char* caption;
    QString (*value)(const Statistics& s);
};
QString Count(int32_t n) { return QString::number(n); }
const StatRow kStatRows[] = {
    {"lblTotalConnections", "Total Connections", [](const Statistics& s) { return Count(s.TotalConnections); }},
    {"lblActiveConnections", "Active Connections", [](const Statistics& s) { return Count(s.ActiveConnections); }},
    {"lblTotalIncoming", "Total Incoming", [](const Statistics& s) { return Count(s.TotalIncoming); }},
    {"lblTotalOutgoing", "Total Outgoing", [](const Statistics& s) { return Count(s.TotalOutgoing); }},
    {"lblTotalReceived", "Total Received", [](const Statistics& s) { return Count(s.TotalReceived); }},
    {"lblTotalKBReceived", nullptr, [](const Statistics& s) { return Q(FormatKB(s.KBReceived)); }},
    {"lblTotalSent", "Total Sent", [](const Statistics& s) { return Count(s.TotalSent); }},
    {"lblTotalKBSent", nullptr, [](const Statistics& s) { return Q(FormatKB(s.KBSent)); }},
    {"lblTotalBlockedIps", "Blocked IPs", [](const Statistics& s) { return Count(s.BlockedIps); }},
    {"lblTotalBlockedRelays", "Blocked Relays", [](const Statistics& s) { return Count(s.BlockedRelays); }},
    {"lblTotalBlockedSubjects", "Blocked Subjects", [](const Statistics& s) { return Count(s.BlockedSubjects); }},
    {"lblTotalBlockedHeaders", "Blocked Headers", [](const Statistics& s) { return Count(s.BlockedHeaders); }},
};

QLabel* NewLamp(const char* name, const QColor& color, const char* tip) {
    auto* lamp = new QLabel;
    lamp->setObjectName(name);
    lamp->setPixmap(Lamp(color));
    lamp->setToolTip(tip);
    return lamp;
}

QAction* Item(QMenu* menu, const char* name, const char* caption) {
    QAction* a = menu->addAction(QString::fromLatin1(caption));
    a->setObjectName(name);
    return a;
}

void Separator(QMenu* menu, const char* name) { menu->addSeparator()->setObjectName(name); }

}   // namespace

frmMain::frmMain(Engine& engine, QWidget* parent)
    : QMainWindow(parent),
      engine_(engine),
      ui_{engine.Settings(),
          engine.Bbs(),
          [&engine] { engine.SaveCfg(); },
          [&engine] { return engine.LoadCfg(); },
          [&engine] { return engine.IsActive(); },
          [&engine] { return engine.ZonesOutOfService(); },
          [&engine] { return engine.InboundTlsState(); }} {
    setObjectName("frmMain");
    setWindowTitle("OSPRINE");
    setWindowIcon(AppIcon());

    lblInfo_ = new QLabel("OSPRINE");
    lblInfo_->setObjectName("lblInfo");
    lblInfo_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    txtDebug_ = new QPlainTextEdit;
    txtDebug_->setObjectName("txtDebug");
    txtDebug_->setReadOnly(true);
    txtDebug_->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont fixed("Monospace");
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setPointSize(8);
    txtDebug_->setFont(fixed);
    txtDebug_->viewport()->installEventFilter(this);

    auto* lamps = new QHBoxLayout;
    picStatusGreen_ = NewLamp("picStatusGreen", kGreenLamp, "Server is in Normal Operation Mode");
    picStatusYellow_ = NewLamp("picStatusYellow", QColor(230, 190, 30), "Server is in Offline Mode");
    lamps->addWidget(picStatusGreen_);
    lamps->addWidget(picStatusYellow_);
    lamps->addWidget(NewLamp("picStatusRed", QColor(200, 40, 40), "Server is Stopped"));
    lamps->addStretch();
    picShrink_ = new QToolButton;
    picShrink_->setObjectName("picShrink");
    picShrink_->setArrowType(Qt::LeftArrow);
    picShrink_->setToolTip("Hide statistics.");
    picExpand_ = new QToolButton;
    picExpand_->setObjectName("picExpand");
    picExpand_->setArrowType(Qt::RightArrow);
    picExpand_->setToolTip("Show statistics.");
    lamps->addWidget(picShrink_);
    lamps->addWidget(picExpand_);
    connect(picShrink_, &QToolButton::clicked, this, &frmMain::picShrink_Click);
    connect(picExpand_, &QToolButton::clicked, this, &frmMain::picExpand_Click);

    auto* left = new QVBoxLayout;
    left->addWidget(lblInfo_);
    left->addWidget(txtDebug_, 1);
    left->addLayout(lamps);
    statsPanel_ = BuildStatistics();
    auto* central = new QWidget;
    auto* layout = new QHBoxLayout(central);
    layout->addLayout(left, 1);
    layout->addWidget(statsPanel_);
    setCentralWidget(central);

    BuildMenus();

    tray_ = new QSystemTrayIcon(this);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            TrayDoubleClick();
        else if (reason == QSystemTrayIcon::Context)
            TrayRightButton();
    });

    connect(&engine_, &Engine::eventLine, this, [this](const QByteArray& line) { ShowEvent(line); });
    connect(&engine_, &Engine::statsChanged, this, &frmMain::UpdateStatsDisplay);
    connect(&engine_, &Engine::dailyDisplayReset, this, &frmMain::mnuDebugClear_Click);
    connect(&engine_, &Engine::activateRequested, this, &frmMain::BringToFront);
    // Every minute the settings are read again; the tray follows the state.
    connect(&engine_, &Engine::stateChanged, this, [this] {
        if (On(engine_.Settings().MinToTray) && int16_t(engine_.Run().ServerState) >= 0) CheckIcon();
    });
    timer1_.setInterval(1000);
    connect(&timer1_, &QTimer::timeout, this, &frmMain::Timer1_Timer);

    ApplyShape();
    UpdateStatsDisplay();
}

frmMain::~frmMain() { tray_->hide(); }

QWidget* frmMain::BuildStatistics() {
    auto* panel = new QWidget;
    panel->setObjectName("fraStatistics");
    auto* grid = new QGridLayout(panel);
    int row = 0;
    for (const StatRow& s : kStatRows) {
        if (s.caption) {
            auto* caption = new QLabel(QString::fromLatin1(s.caption));
            caption->setObjectName(s.name);
            grid->addWidget(caption, row, 0);
        }
        auto* value = new QLabel(s.caption ? "0" : "0KB");
        value->setObjectName(QString(s.name) + "Value");
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(value, row, 1);
        statValues_.push_back({value, s.value});
        ++row;
    }
    grid->setRowStretch(row, 1);
    panel->setFixedWidth(190);
    return panel;
}

void frmMain::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("mnuFile");
    connect(Item(file, "mnuFileExit", "E&xit"), &QAction::triggered, this, &frmMain::mnuFileExit_Click);

    QMenu* view = menuBar()->addMenu("&View");
    view->setObjectName("mnuView");
    connect(Item(view, "mnuViewLog", "&View Log"), &QAction::triggered, this, &frmMain::mnuViewLog_Click);

    QMenu* settings = menuBar()->addMenu("&Settings");
    settings->setObjectName("mnuSettings");
    auto list = [this](const char* form) {
        return [this, form] { RunDialog([this, form] { ShowListDialog(ui_, form, this); }); };
    };
    connect(Item(settings, "mnuSettingsConfiguration", "OSPRINE &Configuration"), &QAction::triggered, this,
            &frmMain::mnuSettingsConfiguration_Click);
    connect(Item(settings, "mnuSettingsDomains", "Secondary &Domains"), &QAction::triggered, this, list("frmDomains"));
    Separator(settings, "mnuSettingsSeperator");
    connect(Item(settings, "mnuSettingsZarvInet", "ZARV &Internet Configuration"), &QAction::triggered, this,
            &frmMain::mnuSettingsZarvInet_Click);
    connect(Item(settings, "mnuSettingsMailingList", "&Mailing List Configuration"), &QAction::triggered, this,
            [this] { RunDialog([this] { ShowMailingListEditor(ui_, this); }); });
    connect(Item(settings, "mnuSettingsInetTwit", "&TWIT.LST Configuration"), &QAction::triggered, this,
            list("zarvinettwit"));
    Separator(settings, "mnuSettingsSeperator0");
    connect(Item(settings, "mnuSettingsAliases", "&User Aliases"), &QAction::triggered, this, list("frmAliases"));
    connect(Item(settings, "mnuSettingsForwarding", "Mail &Forwarding"), &QAction::triggered, this,
            list("frmMailForwarding"));
    connect(Item(settings, "mnuSettingsPassThru", "Mail &Pass-Thru"), &QAction::triggered, this, list("frmPassThru"));
    connect(Item(settings, "mnuToolsFilterExempt", "Filter &Exemptions"), &QAction::triggered, this,
            list("frmFilterExempt"));
    Separator(settings, "mnuSettingsSeperator1");
    connect(Item(settings, "mnuSettingsIpConfig", "Allow/Block IP &Addresses"), &QAction::triggered, this, [this] {
        RunDialog([this] {
            frmIpConfig d(ui_, this);
            d.exec();
        });
    });
    connect(Item(settings, "mnuSettingsRelayTest", "&Relay DB Configuration"), &QAction::triggered, this, [this] {
        RunDialog([this] {
            frmRelayConfig d(ui_, this);
            d.exec();
        });
    });
    connect(Item(settings, "mnuSettingsHeaderFilter", "&Header Filter"), &QAction::triggered, this,
            list("frmHeaderFilter"));
    connect(Item(settings, "mnuSettingsSubjectFilter", "&Subject Filter"), &QAction::triggered, this,
            list("frmSubjectFilter"));

    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("mnuHelp");
    auto page = [](const char* url) { return [url] { QDesktopServices::openUrl(QUrl(url)); }; };
    connect(Item(help, "mnuHelpWebsite", "OSPRINE &Home Page"), &QAction::triggered, this, page(kHomePage));
    connect(Item(help, "mnuHelpDocs", "OSPRINE &Documentation"), &QAction::triggered, this, page(kDocumentationPage));
    connect(Item(help, "mnuHelpSupport", "OSPRINE &Support"), &QAction::triggered, this, page(kSupportPage));
    Separator(help, "mnuHelpSeperator");
    connect(Item(help, "mnuHelpUpdate", "&Check for Updates"), &QAction::triggered, this,
            &frmMain::mnuHelpUpdate_Click);
    Separator(help, "mnuHelpSeperator0");
    connect(Item(help, "mnuHelpDonate", "&Donate"), &QAction::triggered, this, page(kDonatePage));
    connect(Item(help, "mnuHelpAbout", "&About"), &QAction::triggered, this, [this] {
        RunDialog([this] {
            frmAbout about(engine_.Run().StartTime, this);
            about.exec();
        });
    });

    mnuDebug_ = new QMenu("Debug Menu Options", this);
    mnuDebug_->setObjectName("mnuDebug");
    connect(Item(mnuDebug_, "mnuDebugClear", "Clear Window"), &QAction::triggered, this, &frmMain::mnuDebugClear_Click);
    mnuTray_ = new QMenu("Tray Options", this);
    mnuTray_->setObjectName("mnuTray");
    connect(Item(mnuTray_, "mnuTrayArray", "Exit"), &QAction::triggered, this, &frmMain::mnuFileExit_Click);
}

// The event log opens in the desktop's text viewer; without a log there is nothing to show.
void frmMain::mnuViewLog_Click() {
    const QString log = engine_.Log().LogPath();
    if (FileExists(log)) QDesktopServices::openUrl(QUrl::fromLocalFile(log));
}

// --- start-up information and the event window -------------------------

Text frmMain::StartupInfo(const QDateTime& startTime, const Text& systemId) {
    return Text("OSPRINE [") + kVersion + "] executed @ " + TimeText(startTime) + " " + UsDate(startTime.date()) +
           CRLF + kHomePage + CRLF + "Local Domain: " + systemId;
}

void frmMain::ShowStartupInfo() {
    const Text info = StartupInfo(engine_.Run().StartTime, GetSystemId(engine_.Bbs()));
    lblInfo_->setText(Q(info).replace("\r\n", "\n"));
}

void frmMain::ShowEvent(const Text& line) {
    if (debugLength_ > kEventWindowLimit) mnuDebugClear_Click();
    // A long line must not scroll the window to its end: the times are at the left.
    QScrollBar* across = txtDebug_->horizontalScrollBar();
    const bool atLeft = across->value() == across->minimum();
    txtDebug_->appendPlainText(Q(line));
    if (atLeft) across->setValue(across->minimum());
    debugLength_ += line.size() + 2;   // the line and its CR LF
    txtDebug_->verticalScrollBar()->setValue(txtDebug_->verticalScrollBar()->maximum());
}

void frmMain::mnuDebugClear_Click() {
    txtDebug_->clear();
    debugLength_ = 0;
}

QString frmMain::EventText() const { return txtDebug_->toPlainText(); }

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtDebug_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        mnuDebug_->popup(QCursor::pos());   // txtDebug_DblClick
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::UpdateStatsDisplay() {
    const Statistics& s = engine_.Stats();
    for (const StatValue& shown : statValues_) shown.label->setText(shown.text(s));
}

// --- tray -----------------------------------------------------------------

namespace {

// The icon's tip holds at most 127 bytes (128 with the terminating NUL, the
// notification area's limit): room for the refusals line after the state,
// the connections and the uptime.
QString IconTip(const QString& tip) { return tip.left(127); }

}   // namespace

bool frmMain::AddIcon(const QString& tip, int iconId) {
    if (tray_->isVisible()) return false;   // already there
    tray_->setIcon(TrayIcon(TrayIconId(iconId)));
    tray_->setToolTip(IconTip(tip));
    tray_->show();
    return true;
}

bool frmMain::ModifyIcon(const QString& tip, int iconId) {
    if (!tray_->isVisible()) return false;
    if (iconId != -1) tray_->setIcon(TrayIcon(TrayIconId(iconId)));
    tray_->setToolTip(IconTip(tip));
    return true;
}

bool frmMain::RemoveIcon() {
    const bool shown = tray_->isVisible();
    tray_->hide();
    return shown;
}

bool frmMain::CheckIcon() {
    QString tip;
    int id = 0;
    switch (engine_.Run().ServerState) {
    case ServerPhase::Online:
        tip = "OSPRINE - Online";
        id = 101;
        break;
    case ServerPhase::Stopped:
        tip = "OSPRINE - Stopped";
        id = 102;
        break;
    case ServerPhase::Offline:
        tip = "OSPRINE - Offline";
        id = 103;
        break;
    default:
        return false;
    }
    return AddIcon(tip, id) || ModifyIcon(tip, id);
}

QString frmMain::StateWord() const {
    switch (engine_.Run().ServerState) {
    case ServerPhase::Online:
        return "Online";
    case ServerPhase::Offline:
        return "Offline";
    case ServerPhase::Stopped:
        return "Stopped";
    default:
        return {};
    }
}

QString frmMain::TrayTip() const {
    const qint64 seconds = std::max<qint64>(0, engine_.Run().StartTime.secsTo(QDateTime::currentDateTime()));
    const Text refused = RefusalSummary(engine_.Stats());
    return "OSPRINE - " + StateWord() +
           "\r\nActive Connections: " + QString::number(engine_.Stats().ActiveConnections) +
           "\r\nUptime: " + Q(CalcUptime(seconds, true)) + (refused.isEmpty() ? QString() : "\r\n" + Q(refused));
}

void frmMain::BringToFront() {
    if (isMinimized() || !isVisible()) showNormal();
    raise();
    activateWindow();
}

void frmMain::TrayDoubleClick() {
    if (dialogOpen_) {
        QApplication::beep();
        BringToFront();
        return;
    }
    if (!isMinimized() && isVisible()) {
        showMinimized();
        hide();
        return;
    }
    showNormal();
    raise();
    activateWindow();
    txtDebug_->moveCursor(QTextCursor::End);
}

void frmMain::TrayRightButton() {
    if (dialogOpen_) {
        QApplication::beep();
        BringToFront();
        return;
    }
    mnuTray_->popup(QCursor::pos());
}

// --- shape, placement and the window record -------------------------------

QSize frmMain::ScreenTwips() const {
    const QScreen* screen = this->screen() ? this->screen() : QApplication::primaryScreen();
    const QSize px = screen ? screen->geometry().size() : QSize(1024, 768);
    return {Twips(px.width()), Twips(px.height())};
}

QSize frmMain::WindowTwips() const { return {Twips(frameGeometry().width()), Twips(frameGeometry().height())}; }

void frmMain::ApplyShape() {
    const bool narrow = engine_.Window().WindowShrunk != 0;
    statsPanel_->setVisible(!narrow);
    picShrink_->setVisible(!narrow);
    picExpand_->setVisible(narrow);
    setFixedSize(Pixels(narrow ? kNarrowTwips : kWideTwips), kWindowHeight);
}

void frmMain::picShrink_Click() {
    engine_.Window().WindowShrunk = 1;
    ApplyShape();
    SaveDat();
}

void frmMain::picExpand_Click() {
    engine_.Window().WindowShrunk = 0;
    ApplyShape();
    SaveDat();
}

void frmMain::LoadDat() {
    if (!LoadWindowRecord(engine_.Window(), engine_.Settings(), engine_.Bbs().MainDir(), ScreenTwips(),
                          WindowTwips())) {
        engine_.Log().ShowEvent("Error: Error While Loading OSPRINE.DAT");
        engine_.Log().OsprineLog(0, "Error While Loading OSPRINE.DAT");
        LogError("LoadDat", kVersion, "modOSPRINE", "Cannot read OSPRINE.DAT");
    }
    ApplyShape();
}

void frmMain::SaveDat() {
    if (!SaveWindowRecord(engine_.Window(), engine_.Settings(), engine_.Bbs().MainDir(), ScreenTwips(), WindowTwips(),
                          lastPos_)) {
        engine_.Log().ShowEvent("Error: Error While Saving OSPRINE.DAT");
        engine_.Log().OsprineLog(0, "Error While Saving OSPRINE.DAT");
        LogError("SaveDat", kVersion, "modOSPRINE", "Cannot write OSPRINE.DAT");
    }
}

void frmMain::PlaceWindow(const QStringList& arguments) {
    const bool reset = arguments.join(' ').trimmed().toUpper().contains("/RESETWINDOW");
    WindowRecord& w = engine_.Window();
    if (reset && On(engine_.Settings().SaveWindowPos)) {
        engine_.Settings().SaveWindowPos = 0;
        engine_.SaveCfg();
        LoadDat();
    }
    move(Pixels(w.WindowLeft), Pixels(w.WindowTop));
    lastPos_ = QPointF(w.WindowLeft, w.WindowTop);
    if (!reset && w.WindowMinimized == 1) setWindowState(windowState() | Qt::WindowMinimized);
    setWindowTitle("OSPRINE - " + Q(Trim(engine_.Bbs().main.BbsName)));
    if (On(engine_.Settings().MinToTray)) AddIcon("OSPRINE - Online", 101);
    timer1_.start();
}

// The display side of Timer1: the window's position, and the tray's tip,
// refreshed once a second (the tray reports no mouse movement here).
void frmMain::Timer1_Timer() {
    if (!isMinimized() && isVisible()) lastPos_ = QPointF(Twips(frameGeometry().left()), Twips(frameGeometry().top()));
    if (tray_->isVisible()) ModifyIcon(TrayTip(), -1);
    ShowTossingState();
}

// A stale tosser flag holds the BBS's mail back: the green lamp goes dark
// and the yellow one says why, until the flag is gone.
void frmMain::ShowTossingState() {
    const QString heldBy = TossingHeldBy();
    if (heldBy == shownHeldBy_) return;
    shownHeldBy_ = heldBy;
    picStatusGreen_->setPixmap(Lamp(heldBy.isEmpty() ? kGreenLamp : QColor(90, 90, 90)));
    picStatusYellow_->setToolTip(heldBy.isEmpty() ? QStringLiteral("Server is in Offline Mode")
                                                  : "Tossing is held by a stale flag: " + heldBy);
}

void frmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || int16_t(engine_.Run().ServerState) < 0) return;
    // Form_Resize: a minimised window that lives in the tray leaves the task bar.
    if (isMinimized() && On(engine_.Settings().MinToTray)) QTimer::singleShot(0, this, &QWidget::hide);
    engine_.Window().WindowMinimized = isMinimized() ? 1 : 0;
}

// --- menu commands ----------------------------------------------------------

void frmMain::RunDialog(const std::function<void()>& show) {
    dialogOpen_ = true;
    show();
    dialogOpen_ = false;
}

void frmMain::mnuSettingsConfiguration_Click() {
    RunDialog([this] {
        frmServerConfig dialog(ui_, this);
        dialog.exec();
    });
    if (unloaded_) return;   // the server was stopped while the dialog was open
    // Re-configure: listener, Timer4 and the statistics file follow the settings.
    engine_.ApplySettings();
    if (On(engine_.Settings().MinToTray))
        CheckIcon();
    else
        RemoveIcon();
}

void frmMain::mnuSettingsZarvInet_Click() {
    RunDialog([this] {
        zarvnetinet dialog(ui_, this);
        dialog.exec();
    });
    if (!unloaded_ && engine_.LoadNetCfg()) ShowStartupInfo();
}

void frmMain::mnuHelpUpdate_Click() {
    const QString besideUs = programDir_.isNull() ? QCoreApplication::applicationDirPath() : programDir_;
    const QString program = FindUpdateProgram(engine_.Bbs().MainDir(), besideUs);
    if (program.isEmpty()) {
        QMessageBox::information(this, "ZRV Update", UpdateMissingText());
        return;
    }
    auto* prompt = new frmUpdate(program, engine_.Bbs().MainDir(), this);
    prompt->show();
}

void frmMain::mnuFileExit_Click() {
    exitRequested_ = true;
    close();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (unloaded_) return;
    if (!exitRequested_ && On(engine_.Settings().CloseToTaskbar)) {
        event->ignore();
        showMinimized();
        return;
    }
    timer1_.stop();
    SaveDat();
    engine_.Shutdown();
    RemoveIcon();
    unloaded_ = true;
    event->accept();
    emit unloaded();
}
