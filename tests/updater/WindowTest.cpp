// The update checker's window under the offscreen platform, against a real
// HTTP service on loopback.
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include "tests/updater/UpdaterFixture.h"
#include "updater/MainWindow.h"
#include "updater/VersionRecord.h"

// Receives what the Download button hands to the system's FTP handler.
class FtpHandler : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened << url; }
};

// Counts the times a widget is shown.
class ShowCounter : public QObject {
public:
    int shown = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show) ++shown;
        return false;
    }
};

namespace {

const Text kOsprine = "1,osprine,history.txt,notes.txt,60712,osprine15.zip,1000001,0123abcd,OSPRINE,Mail server";
const Text kZarvel = "1,zarvel,,,70000,zarvel31.zip,1001,feedbeef,ZARVEL,The BBS";

class WindowTest : public ::testing::Test {
protected:
    WindowTest() : here_(bbs_.Dir()) {
        bbs_.Install("OSPRINE.EXE");
        bbs_.Install("ZARVEL.EXE");
        bbs_.SetVersion(36, "1.4.060711");
        bbs_.SetVersion(kCheckDateOffset, "990101");
    }
    ~WindowTest() override { QDesktopServices::unsetUrlHandler("ftp"); }

    // Starts the window and waits for the first scan.
    void Start(const QStringList& args = {}) {
        window_ = std::make_unique<frmMain>(UpdateAddresses{server_.BaseUrl(), "ftp://u:p@ftp.zarvel.example/"});
        window_->installEventFilter(&shows_);
        scans_ = std::make_unique<QSignalSpy>(window_.get(), &frmMain::ScanFinished);
        ended_ = std::make_unique<QSignalSpy>(window_.get(), &frmMain::Ended);
        window_->FormLoad(args, bbs_.Dir());
        ASSERT_TRUE(WaitUntil([&] { return scans_->count() > 0 || ended_->count() > 0; }));
    }

    void Rescan(const char* command) {
        const int before = scans_->count();
        Find<QAction>(command)->trigger();
        ASSERT_TRUE(WaitUntil([&] { return scans_->count() > before; }));
    }

    template <typename T>
    T* Find(const char* name) const {
        T* widget = window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(widget) << name;
        return widget;
    }

    QTreeWidget* List() const { return Find<QTreeWidget>("lvAvailUpdates"); }
    QString Label(const char* name) const { return Find<QLabel>(name)->text(); }
    bool Enabled(const char* button) const { return Find<QPushButton>(button)->isEnabled(); }

    QStringList Row(int row) const {
        const QTreeWidgetItem* item = List()->topLevelItem(row);
        return item ? QStringList{item->text(0), item->text(1), item->text(2)} : QStringList{};
    }

    static QWidget* TopLevel(const char* name) {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QLatin1String(name) && widget->isVisible()) return widget;
        return nullptr;
    }

    FixtureServer server_;
    UpdaterBbs bbs_;
    CurrentDirectory here_;
    ShowCounter shows_;
    FtpHandler ftp_;
    std::unique_ptr<frmMain> window_;
    std::unique_ptr<QSignalSpy> scans_, ended_;
};

TEST_F(WindowTest, ListsNewerVersionsWithDetails) {
    server_.UpdateList("official", kOsprine + ";" + kZarvel + ";1,osprine,h,n,60711,o.zip,1,m,OSPRINE,Same");
    Start();
    ASSERT_EQ(ended_->count(), 0);
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(shows_.shown, 1);
    EXPECT_FALSE(window_->Busy());

    const QTreeWidget* list = List();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->headerItem()->text(0), "Program");
    EXPECT_EQ(list->headerItem()->text(1), "Version");
    EXPECT_EQ(list->headerItem()->text(2), "Description");
    EXPECT_EQ(Row(0), (QStringList{"OSPRINE", ".60712", "Mail server"}));
    EXPECT_EQ(Row(1), (QStringList{"ZARVEL", ".70000", "The BBS"}));
    EXPECT_TRUE(list->header()->stretchLastSection());

    EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
    EXPECT_EQ(Label("lblFilename"), "Filename:");
    EXPECT_EQ(Label("lblFilenameValue"), "osprine15.zip");
    EXPECT_EQ(Label("lblFilesize"), "Filesize:");
    EXPECT_EQ(Label("lblFilesizeValue"), "0.95MB");
    EXPECT_EQ(Label("lblMD5"), "MD5:");
    EXPECT_EQ(Label("lblMD5Value"), "0123abcd");
    EXPECT_TRUE(Enabled("cmdOk"));
    EXPECT_TRUE(Enabled("cmdFileNotes"));
    EXPECT_TRUE(Enabled("cmdHistory"));
    EXPECT_TRUE(Enabled("cmdClose"));
    EXPECT_EQ(Find<QGroupBox>("fraUpdateType")->title(), "Update Type: Official Releases");
    EXPECT_EQ(window_->Notice(), kNoticeFound);
    EXPECT_EQ(Label("lblNotice"), "Updates available!\nChoose an update and click 'Download' to retrieve the file.");

    // The second row names neither notes nor history.
    List()->setCurrentItem(List()->topLevelItem(1));
    EXPECT_EQ(Label("lblFilenameValue"), "zarvel31.zip");
    EXPECT_EQ(Label("lblFilesizeValue"), "0.98KB");
    EXPECT_EQ(Label("lblMD5Value"), "feedbeef");
    EXPECT_FALSE(Enabled("cmdFileNotes"));
    EXPECT_FALSE(Enabled("cmdHistory"));

    // Found updates: today's date and this program's version in the record.
    const Text record = bbs_.VersionRecord();
    EXPECT_EQ(record.left(6), QDate::currentDate().toString("yyMMdd").toLatin1());
    EXPECT_EQ(record.mid(6, 15), "1.5.060711     ");
    EXPECT_EQ(record.mid(36, 15), "1.4.060711     ");
}

TEST_F(WindowTest, BusyDuringStartUpRefusesToClose) {
    server_.UpdateList("official", kOsprine, 200, 2);
    window_ = std::make_unique<frmMain>(UpdateAddresses{server_.BaseUrl(), ""});
    QSignalSpy scans(window_.get(), &frmMain::ScanFinished);
    QSignalSpy ended(window_.get(), &frmMain::Ended);
    window_->FormLoad({}, bbs_.Dir());
    EXPECT_TRUE(window_->Busy());
    EXPECT_EQ(window_->Notice(), "Loading... Please wait.");
    EXPECT_EQ(Find<QGroupBox>("fraUpdateType")->title(), "Update Type: Official Releases");
    EXPECT_FALSE(Enabled("cmdOk"));
    EXPECT_FALSE(Enabled("cmdFileNotes"));
    EXPECT_FALSE(Enabled("cmdHistory"));
    EXPECT_FALSE(Enabled("cmdClose"));
    EXPECT_FALSE(Find<QMenu>("mnuFile")->isEnabled());
    EXPECT_FALSE(Find<QMenu>("mnuHelp")->isEnabled());
    EXPECT_FALSE(window_->close());
    EXPECT_TRUE(window_->isVisible());

    ASSERT_TRUE(WaitUntil([&] { return scans.count() == 1; }));
    EXPECT_FALSE(window_->Busy());
    EXPECT_TRUE(Find<QMenu>("mnuFile")->isEnabled());
    EXPECT_TRUE(Find<QMenu>("mnuHelp")->isEnabled());
    EXPECT_TRUE(window_->close());
    EXPECT_EQ(ended.count(), 1);
}

TEST_F(WindowTest, MenusChangeTypeAndShowAll) {
    server_.UpdateList("official", kOsprine);
    server_.UpdateList("build", "1,osprine,h,n,60711,o.zip,1,m,OSPRINE,Same build");
    Start();
    QAction* showAll = Find<QAction>("mnuFileShowAll");
    EXPECT_TRUE(showAll->isCheckable());
    EXPECT_FALSE(showAll->isChecked());
    EXPECT_EQ(showAll->text(), "&Show All Current Versions");

    Rescan("mnuFileBuilds");
    EXPECT_EQ(window_->UpdateType(), 1);
    EXPECT_EQ(Find<QGroupBox>("fraUpdateType")->title(), "Update Type: Latest Build");
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_FALSE(Enabled("cmdOk"));
    EXPECT_EQ(window_->Notice(), kNoticeNone);

    Rescan("mnuFileShowAll");
    EXPECT_TRUE(showAll->isChecked());
    EXPECT_EQ(Row(0), (QStringList{"OSPRINE", ".60711", "Same build"}));
    EXPECT_TRUE(Enabled("cmdOk"));
    EXPECT_EQ(window_->Notice(), kNoticeShowAll);

    Rescan("mnuFileShowAll");
    EXPECT_FALSE(showAll->isChecked());
    EXPECT_EQ(List()->topLevelItemCount(), 0);

    Rescan("mnuFileUnofficial");
    EXPECT_EQ(Find<QGroupBox>("fraUpdateType")->title(), "Update Type: Unofficial and Official Releases");
    EXPECT_EQ(window_->Notice(), kNoticeError);   // nothing served for that type
    Rescan("mnuFileOfficial");
    EXPECT_EQ(Row(0), (QStringList{"OSPRINE", ".60712", "Mail server"}));
    Rescan("mnuFileRescan");
    EXPECT_EQ(List()->topLevelItemCount(), 1);

    QList<Text> types;
    for (const Text& request : server_.Requests()) types << request.mid(kListTarget.size()).split('&').first();
    EXPECT_EQ(types, (QList<Text>{"official", "build", "build", "build", "unofficial", "official", "official"}));
}

TEST_F(WindowTest, TypeOptionInLowerCaseAndTypeSetting) {
    server_.UpdateList("unofficial", kOsprine);
    Start({"/type=2"});
    EXPECT_EQ(window_->UpdateType(), 2);
    EXPECT_EQ(List()->topLevelItemCount(), 1);

    bbs_.SetUpdateTypeSetting(1);
    server_.UpdateList("build", kZarvel);
    Start();
    EXPECT_EQ(window_->UpdateType(), 1);
    EXPECT_EQ(Row(0).value(0), "ZARVEL");
}

TEST_F(WindowTest, FailingServiceShowsTheErrorNotice) {
    server_.UpdateList("official", kOsprine, 503);
    Start();
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(window_->Notice(), "An error occurred.\r\nZRV Updater could not retrieve update information.");
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_FALSE(Enabled("cmdOk"));
    EXPECT_EQ(bbs_.VersionRecord().left(6), "990101");
}

TEST_F(WindowTest, QuietWithNothingNewerEndsUnseen) {
    server_.UpdateList("official", "1,osprine,h,n,60711,o.zip,1,m,OSPRINE,Same");
    Start({"/QUIET"});
    EXPECT_EQ(ended_->count(), 1);
    EXPECT_EQ(shows_.shown, 0);
    const Text record = bbs_.VersionRecord();
    EXPECT_EQ(record.left(6), "990101");
    EXPECT_EQ(record.mid(6, 15), "1.5.060711     ");
}

TEST_F(WindowTest, QuietWithUpdatesShowsTheWindowWhenReady) {
    server_.UpdateList("official", kOsprine, 200, 1);
    window_ = std::make_unique<frmMain>(UpdateAddresses{server_.BaseUrl(), ""});
    QSignalSpy scans(window_.get(), &frmMain::ScanFinished);
    window_->FormLoad({"/Quiet"}, bbs_.Dir());
    EXPECT_FALSE(window_->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return scans.count() == 1; }));
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(bbs_.VersionRecord().left(6), QDate::currentDate().toString("yyMMdd").toLatin1());
}

TEST_F(WindowTest, OutsideABbsDirectoryEndsSilently) {
    QFile::remove(bbs_.Path("SYSPATHS.CFG"));
    Start();
    EXPECT_EQ(ended_->count(), 1);
    EXPECT_EQ(shows_.shown, 0);
    EXPECT_TRUE(server_.Requests().isEmpty());
    EXPECT_FALSE(QFile::exists(bbs_.Path("ZRVERROR.LOG")));
}

TEST_F(WindowTest, NotesAndHistoryOpenTextWindowsThatCloseWithTheMainWindow) {
    server_.UpdateList("official", kOsprine);
    server_.Reply("/products/osprine/files/notes.txt", "Fixed the \xE9 bug.\r\nSecond line\r\n");
    server_.Reply("/products/osprine/files/history.txt", "1.4.060711 first release");
    Start();

    Find<QPushButton>("cmdFileNotes")->click();
    ASSERT_TRUE(WaitUntil([] { return TopLevel("frmTextDisplay") != nullptr; }));
    QWidget* notes = TopLevel("frmTextDisplay");
    EXPECT_EQ(notes->windowTitle(), "ZRV Update - File Notes");
    auto* text = notes->findChild<QPlainTextEdit*>("txtDisplay");
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_EQ(text->toPlainText(), QString::fromLatin1("Fixed the \xE9 bug.\nSecond line\n"));
    notes->findChild<QPushButton*>("cmdClose")->click();
    ASSERT_TRUE(WaitUntil([] { return TopLevel("frmTextDisplay") == nullptr; }));

    Find<QPushButton>("cmdHistory")->click();
    ASSERT_TRUE(WaitUntil([] { return TopLevel("frmTextDisplay") != nullptr; }));
    EXPECT_EQ(TopLevel("frmTextDisplay")->windowTitle(), "ZRV Update - Program History");

    EXPECT_TRUE(window_->close());
    EXPECT_EQ(ended_->count(), 1);
    EXPECT_TRUE(WaitUntil([] { return TopLevel("frmTextDisplay") == nullptr; }));
}

TEST_F(WindowTest, MissingNotesShowTheErrorMessage) {
    server_.UpdateList("official", kOsprine);
    Start();
    Find<QPushButton>("cmdFileNotes")->click();   // nothing served: 404
    ASSERT_TRUE(WaitUntil([&] { return window_->findChild<QMessageBox*>("msgInformation") != nullptr; }));
    EXPECT_EQ(window_->findChild<QMessageBox*>("msgInformation")->text(), "Error downloading information.");
    EXPECT_EQ(TopLevel("frmTextDisplay"), nullptr);
}

TEST_F(WindowTest, DownloadOpensTheFtpAddress) {
    QDesktopServices::setUrlHandler("ftp", &ftp_, "Open");
    server_.UpdateList("official", kOsprine + ";1,@evil.example,h,n,70000,z.zip,1,m,ZARVEL,Hostile");
    Start();
    Find<QPushButton>("cmdOk")->click();
    ASSERT_EQ(ftp_.opened.size(), 1);
    EXPECT_EQ(ftp_.opened[0].toString(), "ftp://u:p@ftp.zarvel.example/osprine/files/osprine15.zip");

    List()->setCurrentItem(List()->topLevelItem(1));
    Find<QPushButton>("cmdOk")->click();
    EXPECT_EQ(ftp_.opened.size(), 1);
    EXPECT_TRUE(bbs_.ErrorLog().endsWith("  frmMain cmdOk_Click - Invalid download address for z.zip\r\n"))
        << bbs_.ErrorLog().constData();
}

TEST_F(WindowTest, AboutBox) {
    server_.UpdateList("official", kOsprine);
    Start();
    Find<QAction>("mnuHelpAbout")->trigger();
    QDialog* about = window_->findChild<QDialog*>("frmAbout");
    ASSERT_TRUE(about);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->windowTitle(), "ZRV Update - About");
    EXPECT_EQ(about->findChild<QLabel*>("lblVersion")->text(), "Version 1.5.060711");
    EXPECT_TRUE(window_->close());
    EXPECT_FALSE(about->isVisible());
}

}   // namespace

#include "WindowTest.moc"
