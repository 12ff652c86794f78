#pragma once
// frmMain: the server's main window. It shows what the engine reports (the
// start-up information, the counters, the event window), carries the menus
// that open every settings dialog, lives in the tray when asked to, and
// keeps the window record "OSPRINE.DAT".
#include "server/ui/Pictures.h"
#include "server/ui/UiContext.h"

#include <QMainWindow>
#include <QPointF>
#include <QTimer>
#include <vector>

class Engine;
struct Statistics;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSystemTrayIcon;
class QToolButton;

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(Engine& engine, QWidget* parent = nullptr);
    ~frmMain() override;

    UiContext& Ui() { return ui_; }
    // Where the update utility is looked for after the BBS main directory:
    // beside this program unless set otherwise.
    void SetProgramDir(const QString& dir) { programDir_ = dir; }

    // Start-up steps that belong to the window.
    void LoadDat();
    void PlaceWindow(const QStringList& arguments);
    void ShowStartupInfo();
    static Text StartupInfo(const QDateTime& startTime, const Text& systemId);

    // The event window.
    void ShowEvent(const Text& line);
    void mnuDebugClear_Click();
    QString EventText() const;

    void UpdateStatsDisplay();

    // The tray icon.
    bool AddIcon(const QString& tip, int iconId);
    bool ModifyIcon(const QString& tip, int iconId);   // -1 keeps the icon
    bool RemoveIcon();
    bool CheckIcon();
    QString TrayTip() const;
    QSystemTrayIcon* Tray() const { return tray_; }
    void TrayDoubleClick();
    void TrayRightButton();

    void picShrink_Click();
    void picExpand_Click();
    void SaveDat();

    bool DialogOpen() const { return dialogOpen_; }
    // Runs a modal dialog from a menu with DialogOpen set around it.
    void RunDialog(const std::function<void()>& show);
    void mnuViewLog_Click();
    void mnuSettingsConfiguration_Click();
    void mnuSettingsZarvInet_Click();
    void mnuHelpUpdate_Click();
    void mnuFileExit_Click();
    void BringToFront();

signals:
    void unloaded();   // the shut-down is done; the program ends

protected:
    void closeEvent(QCloseEvent* event) override;   // Form_QueryUnload and Form_Unload
    void changeEvent(QEvent* event) override;       // Form_Resize
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    QWidget* BuildStatistics();
    void ApplyShape();
    void Timer1_Timer();
    void ShowTossingState();
    QSize ScreenTwips() const;
    QSize WindowTwips() const;
    QString StateWord() const;

    Engine& engine_;
    UiContext ui_;
    // A value of the statistics panel and how it is made from the counters.
    struct StatValue {
        QLabel* label;
        QString (*text)(const Statistics& s);
    };

    QLabel* lblInfo_;
    QLabel* picStatusGreen_;
    QLabel* picStatusYellow_;
    std::vector<StatValue> statValues_;
    QPlainTextEdit* txtDebug_;
    qsizetype debugLength_ = 0;
    QWidget* statsPanel_;
    QToolButton* picShrink_;
    QToolButton* picExpand_;
    QMenu* mnuDebug_;
    QMenu* mnuTray_;
    QSystemTrayIcon* tray_;
    QTimer timer1_;
    QPointF lastPos_;   // last on-screen top-left, in twips
    bool dialogOpen_ = false;
    bool exitRequested_ = false;
    bool unloaded_ = false;
    QString programDir_;
    QString shownHeldBy_;   // the stale tosser flag the lamps show, or ""
};
