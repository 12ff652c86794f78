#pragma once
// frmMain: the update checker's window. It runs the start-up sequence, the
// scans and the commands of the buttons and menus.
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include "updater/StartUp.h"
#include "updater/UpdateScan.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(const UpdateAddresses& addresses, QWidget* parent = nullptr);
    ~frmMain() override;

    // The start-up sequence after the single-instance check.
    void FormLoad(const QStringList& arguments, const QString& workDir);
    void BringToFront();

    bool Busy() const { return busy_; }
    int UpdateType() const { return type_; }
    Text Notice() const { return notice_; }   // as the system writes it, CR LF between lines

signals:
    void ScanFinished();
    void Ended(int exitCode);   // the program is to end

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void BuildControls();
    void ClearDisplay();
    void SetNotice(const Text& notice);
    void Rescan();
    void StartScan();
    void ShowScanResult(const ScanResult& result);
    void FinishStartUp(bool found);
    void EndProgram();
    void ShowDetails(int row);
    const UpdateEntry* SelectedEntry() const;
    void ShowInformation(const std::optional<QString>& url, const QString& title);
    void ShowMessage(const QString& text);
    void CloseOtherWindows();
    void KeepWindow(QWidget* window);
    void SetScanCommandsEnabled(bool enabled);

    void mnuFileType_Click(int type);
    void mnuFileShowAll_Click();
    void mnuHelpAbout_Click();
    void cmdOk_Click();
    void cmdFileNotes_Click();
    void cmdHistory_Click();
    void lvAvailUpdates_ItemClick(QTreeWidgetItem* item);

    UpdateAddresses addresses_;
    UpdateService service_;
    StartOptions options_;
    QString mainDir_;
    int type_ = 3;
    bool busy_ = false;
    bool ending_ = false;
    bool startingUp_ = false;
    std::vector<UpdateEntry> entries_;   // one per list row, in row order
    Text notice_;
    QList<QPointer<QWidget>> otherWindows_;

    QMenu* mnuFile_ = nullptr;
    QMenu* mnuHelp_ = nullptr;
    QAction* mnuFileRescan_ = nullptr;
    QAction* mnuFileBuilds_ = nullptr;
    QAction* mnuFileUnofficial_ = nullptr;
    QAction* mnuFileOfficial_ = nullptr;
    QAction* mnuFileShowAll_ = nullptr;
    QAction* mnuFileExit_ = nullptr;
    QAction* mnuHelpAbout_ = nullptr;
    QGroupBox* fraUpdateType_ = nullptr;
    QTreeWidget* lvAvailUpdates_ = nullptr;
    QLabel* lblFilenameValue_ = nullptr;
    QLabel* lblFilesizeValue_ = nullptr;
    QLabel* lblMD5Value_ = nullptr;
    QLabel* lblNotice_ = nullptr;
    QPushButton* cmdOk_ = nullptr;
    QPushButton* cmdFileNotes_ = nullptr;
    QPushButton* cmdHistory_ = nullptr;
    QPushButton* cmdClose_ = nullptr;
};
