#include "updater/MainWindow.h"
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>
#include "updater/AboutBox.h"
#include "updater/ErrorLog.h"
#include "updater/TextDisplay.h"
#include "updater/UpdateTypes.h"
#include "updater/VersionRecord.h"

static const char* const kWindowTitle = "ZRV Update";

frmMain::frmMain(const UpdateAddresses& addresses, QWidget* parent) : QMainWindow(parent), addresses_(addresses) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    BuildMenus();
    BuildControls();
    resize(600, 440);
}

frmMain::~frmMain() { CloseOtherWindows(); }

static QAction* AddCommand(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

void frmMain::BuildMenus() {
    mnuFile_ = menuBar()->addMenu(tr("&File"));
    mnuFile_->setObjectName(QStringLiteral("mnuFile"));
    mnuFileRescan_ = AddCommand(mnuFile_, "mnuFileRescan", tr("&Rescan"));
    mnuFile_->addSeparator();
    mnuFileBuilds_ = AddCommand(mnuFile_, "mnuFileBuilds", tr("Scan for &Builds"));
    mnuFileUnofficial_ = AddCommand(mnuFile_, "mnuFileUnofficial", tr("Scan for &Unofficial Releases"));
    mnuFileOfficial_ = AddCommand(mnuFile_, "mnuFileOfficial", tr("Scan for &Official Releases"));
    mnuFile_->addSeparator();
    mnuFileShowAll_ = AddCommand(mnuFile_, "mnuFileShowAll", tr("&Show All Current Versions"));
    mnuFileShowAll_->setCheckable(true);
    mnuFile_->addSeparator();
    mnuFileExit_ = AddCommand(mnuFile_, "mnuFileExit", tr("E&xit"));

    mnuHelp_ = menuBar()->addMenu(tr("&Help"));
    mnuHelp_->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelpAbout_ = AddCommand(mnuHelp_, "mnuHelpAbout", tr("&About"));

    connect(mnuFileRescan_, &QAction::triggered, this, &frmMain::Rescan);
    connect(mnuFileBuilds_, &QAction::triggered, this, [this] { mnuFileType_Click(1); });
    connect(mnuFileUnofficial_, &QAction::triggered, this, [this] { mnuFileType_Click(2); });
    connect(mnuFileOfficial_, &QAction::triggered, this, [this] { mnuFileType_Click(3); });
    connect(mnuFileShowAll_, &QAction::triggered, this, &frmMain::mnuFileShowAll_Click);
    connect(mnuFileExit_, &QAction::triggered, this, &QWidget::close);
    connect(mnuHelpAbout_, &QAction::triggered, this, &frmMain::mnuHelpAbout_Click);
}

static QLabel* NamedLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

static QPushButton* NamedButton(const char* name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

void frmMain::BuildControls() {
    auto* central = new QWidget(this);
    fraUpdateType_ = new QGroupBox(tr("Update Type"), central);
    fraUpdateType_->setObjectName(QStringLiteral("fraUpdateType"));

    lvAvailUpdates_ = new QTreeWidget(fraUpdateType_);
    lvAvailUpdates_->setObjectName(QStringLiteral("lvAvailUpdates"));
    lvAvailUpdates_->setHeaderLabels({tr("Program"), tr("Version"), tr("Description")});
    lvAvailUpdates_->setRootIsDecorated(false);
    lvAvailUpdates_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvAvailUpdates_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvAvailUpdates_->header()->setStretchLastSection(true);
    connect(lvAvailUpdates_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { lvAvailUpdates_ItemClick(current); });

    lblFilenameValue_ = NamedLabel("lblFilenameValue", {}, fraUpdateType_);
    lblFilesizeValue_ = NamedLabel("lblFilesizeValue", {}, fraUpdateType_);
    lblMD5Value_ = NamedLabel("lblMD5Value", {}, fraUpdateType_);
    for (QLabel* value : {lblFilenameValue_, lblFilesizeValue_, lblMD5Value_})
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* details = new QFormLayout;
    details->addRow(NamedLabel("lblFilename", tr("Filename:"), fraUpdateType_), lblFilenameValue_);
    details->addRow(NamedLabel("lblFilesize", tr("Filesize:"), fraUpdateType_), lblFilesizeValue_);
    details->addRow(NamedLabel("lblMD5", tr("MD5:"), fraUpdateType_), lblMD5Value_);

    auto* frameLayout = new QVBoxLayout(fraUpdateType_);
    frameLayout->addWidget(lvAvailUpdates_);
    frameLayout->addLayout(details);

    lblNotice_ = NamedLabel("lblNotice", {}, central);
    lblNotice_->setAlignment(Qt::AlignCenter);
    lblNotice_->setMinimumHeight(lblNotice_->fontMetrics().lineSpacing() * 2 + 4);

    cmdOk_ = NamedButton("cmdOk", tr("&Download"), central);
    cmdFileNotes_ = NamedButton("cmdFileNotes", tr("File &Notes"), central);
    cmdHistory_ = NamedButton("cmdHistory", tr("View &History"), central);
    cmdClose_ = NamedButton("cmdClose", tr("&Close"), central);
    connect(cmdOk_, &QPushButton::clicked, this, &frmMain::cmdOk_Click);
    connect(cmdFileNotes_, &QPushButton::clicked, this, &frmMain::cmdFileNotes_Click);
    connect(cmdHistory_, &QPushButton::clicked, this, &frmMain::cmdHistory_Click);
    connect(cmdClose_, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdOk_);
    buttons->addWidget(cmdFileNotes_);
    buttons->addWidget(cmdHistory_);
    buttons->addStretch();
    buttons->addWidget(cmdClose_);

    auto* layout = new QVBoxLayout(central);
    layout->addWidget(fraUpdateType_, 1);
    layout->addWidget(lblNotice_);
    layout->addLayout(buttons);
    setCentralWidget(central);
}

void frmMain::FormLoad(const QStringList& arguments, const QString& workDir) {
    ClearDisplay();
    fraUpdateType_->setTitle(tr("Update Type"));
    SetNotice(kNoticeLoading);
    cmdClose_->setEnabled(false);
    mnuFile_->setEnabled(false);
    mnuHelp_->setEnabled(false);
    busy_ = true;
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

    options_ = ReadStartOptions(arguments);
    const auto mainDir = PrepareInstallation(workDir);
    if (!mainDir) {   // not in a BBS directory: end without a word
        EndProgram();
        return;
    }
    mainDir_ = *mainDir;
    if (!options_.quiet) show();
    type_ = ResolveUpdateType(options_, mainDir_);
    startingUp_ = true;
    StartScan();
}

void frmMain::FinishStartUp(bool found) {
    startingUp_ = false;
    if (found) {
        if (!WriteCheckDate(mainDir_, QDate::currentDate()))
            LogError("Form_Load", kZrvVersion, kFrmMain, "Cannot write the version record ZRVDATA.DAT");
    } else if (options_.quiet) {
        EndProgram();
        return;
    }
    busy_ = false;
    cmdClose_->setEnabled(true);
    mnuFile_->setEnabled(true);
    mnuHelp_->setEnabled(true);
    show();
}

void frmMain::EndProgram() {
    ending_ = true;
    close();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (busy_ && !ending_) {
        event->ignore();
        return;
    }
    CloseOtherWindows();
    event->accept();
    emit Ended(0);
}

void frmMain::CloseOtherWindows() {
    for (const QPointer<QWidget>& window : otherWindows_)
        if (window) window->close();
    otherWindows_.clear();
}

// Windows that close with the main window.
void frmMain::KeepWindow(QWidget* window) {
    otherWindows_.removeAll(QPointer<QWidget>());
    otherWindows_.append(window);
}

void frmMain::BringToFront() {
    if (!isVisible()) return;   // a quiet check shows nothing until it finds updates
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void frmMain::ClearDisplay() {
    lvAvailUpdates_->clear();
    entries_.clear();
    lblFilenameValue_->clear();
    lblFilesizeValue_->clear();
    lblMD5Value_->clear();
    cmdOk_->setEnabled(false);
    cmdFileNotes_->setEnabled(false);
    cmdHistory_->setEnabled(false);
}

void frmMain::SetNotice(const Text& notice) {
    notice_ = notice;
    lblNotice_->setText(DisplayText(notice));
}

void frmMain::Rescan() {
    ClearDisplay();
    SetNotice(kNoticeLoading);
    StartScan();
}

void frmMain::SetScanCommandsEnabled(bool enabled) {
    for (QAction* command : {mnuFileRescan_, mnuFileBuilds_, mnuFileUnofficial_, mnuFileOfficial_, mnuFileShowAll_})
        command->setEnabled(enabled);
}

void frmMain::StartScan() {
    fraUpdateType_->setTitle(tr("Update Type: ") + UpdateTypeName(type_));
    // One scan at a time: the list belongs to the answer being awaited.
    SetScanCommandsEnabled(false);
    UpdateScan(service_, addresses_, type_, mainDir_, mnuFileShowAll_->isChecked(),
               [this](const ScanResult& result) { ShowScanResult(result); });
}

void frmMain::ShowScanResult(const ScanResult& result) {
    ClearDisplay();
    entries_ = result.rows;
    for (const UpdateEntry& entry : entries_) {
        auto* item = new QTreeWidgetItem(lvAvailUpdates_);
        item->setText(0, QString::fromLatin1(entry.program));
        item->setText(1, QString::fromLatin1(entry.VersionColumn()));
        item->setText(2, QString::fromLatin1(entry.description));
    }
    if (!entries_.empty()) {
        lvAvailUpdates_->setFocus();
        lvAvailUpdates_->setCurrentItem(lvAvailUpdates_->topLevelItem(0));
        ShowDetails(0);
        for (int column = 0; column < lvAvailUpdates_->columnCount(); ++column)
            lvAvailUpdates_->resizeColumnToContents(column);
        cmdOk_->setEnabled(true);
    }
    SetNotice(result.notice);
    SetScanCommandsEnabled(true);
    if (startingUp_) FinishStartUp(result.Found());
    emit ScanFinished();
}

void frmMain::ShowDetails(int row) {
    if (row < 0 || row >= static_cast<int>(entries_.size())) return;
    const UpdateEntry& entry = entries_[row];
    lblFilenameValue_->setText(QString::fromLatin1(entry.fileName));
    lblFilesizeValue_->setText(QString::fromLatin1(entry.SizeText()));
    lblMD5Value_->setText(QString::fromLatin1(entry.md5));
    cmdFileNotes_->setEnabled(!entry.notesFile.isEmpty());
    cmdHistory_->setEnabled(!entry.historyFile.isEmpty());
}

void frmMain::lvAvailUpdates_ItemClick(QTreeWidgetItem* item) {
    if (item) ShowDetails(lvAvailUpdates_->indexOfTopLevelItem(item));
}

const UpdateEntry* frmMain::SelectedEntry() const {
    const int row = lvAvailUpdates_->indexOfTopLevelItem(lvAvailUpdates_->currentItem());
    if (row < 0 || row >= static_cast<int>(entries_.size())) return nullptr;
    return &entries_[row];
}

void frmMain::mnuFileType_Click(int type) {
    type_ = type;
    Rescan();
}

void frmMain::mnuFileShowAll_Click() { Rescan(); }   // the action has toggled its check mark itself

void frmMain::mnuHelpAbout_Click() {
    auto* about = new frmAbout(this);
    KeepWindow(about);
    about->open();
}

void frmMain::cmdOk_Click() {
    const UpdateEntry* entry = SelectedEntry();
    if (!entry) return;
    const auto url = addresses_.DownloadUrl(*entry);
    if (!url) {
        LogError("cmdOk_Click", kZrvVersion, kFrmMain, "Invalid download address for " + entry->fileName.left(80));
        return;
    }
    if (!QDesktopServices::openUrl(*url))
        LogError("cmdOk_Click", kZrvVersion, kFrmMain, "Cannot open " + url->toString(QUrl::RemoveUserInfo).toLatin1());
}

void frmMain::cmdFileNotes_Click() {
    if (const UpdateEntry* entry = SelectedEntry())
        ShowInformation(addresses_.NotesUrl(*entry), QStringLiteral("ZRV Update - File Notes"));
}

void frmMain::cmdHistory_Click() {
    if (const UpdateEntry* entry = SelectedEntry())
        ShowInformation(addresses_.HistoryUrl(*entry), QStringLiteral("ZRV Update - Program History"));
}

void frmMain::ShowInformation(const std::optional<QString>& url, const QString& title) {
    if (!url) {   // the service named a file that is not a plain name
        ShowMessage(QString::fromLatin1(kErrorDownloadingInfo));
        return;
    }
    service_.GetUpdateInfo(*url, [this, title](const Text& text) {
        if (text.isEmpty()) {
            ShowMessage(QString::fromLatin1(kErrorDownloadingInfo));
            return;
        }
        auto* display = new frmTextDisplay(title, text);
        KeepWindow(display);
        display->show();
    });
}

void frmMain::ShowMessage(const QString& text) {
    auto* box =
        new QMessageBox(QMessageBox::Information, QString::fromLatin1(kWindowTitle), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("msgInformation"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    KeepWindow(box);
    box->open();
}
