// The Internet network dialogs: NET.9 through NET.TMP, the remote systems
// and the mailing-list editor.
#include "UiTestSupport.h"
#include "server/lists/InetNetwork.h"
#include "server/lists/LineFiles.h"
#include "server/ui/ListFrame.h"
#include "server/ui/MailingLists.h"
#include "server/ui/NetworkDialogs.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace {

struct NetBbs : UiBbs {
    QString spool;
    NetBbs() {
        spool = Path("SPOOL");
        QDir().mkpath(spool);
        WriteFileAtomic(
            Path("NET.9"),
            "systemid=bbs.example\r\n"
            "netdir=" +
                spool.toLatin1() +
                "\r\n"
                "pss=7\r\n"
                "AllowRefeed = y\r\n"
                "obsolete=1\r\n"
                "remote=isp 555-1234 /q/out;/q/news login: bbs password: secret bbs.example YHXXXXXX news\r\n"
                "remote=second - - - - - - bbs.example NNXXXXXX\r\n");
    }
    Text Net9() const { return ReadFileBytes(Path("NET.9")); }
};

QLineEdit* Edit(QWidget& w, const char* name) { return w.findChild<QLineEdit*>(name); }

}   // namespace

TEST(InetNetwork, SettingsAreReadByKey) {
    const InetSettings s = ReadInetSettings({"SystemId = my.bbs", "pss=5", "striphdrs=N", "allowrefeed=Y", "suffix="});
    EXPECT_EQ(s.systemId, "my.bbs");
    EXPECT_EQ(s.pssIndex, 3);
    EXPECT_TRUE(s.allowRefeed);
    EXPECT_FALSE(s.stripHdrs);
    EXPECT_EQ(ReadInetSettings({"pss=9"}).pssIndex, 0);
    EXPECT_EQ(ReadInetSettings({"pss=x"}).pssIndex, 0);
}

TEST(InetNetwork, RemoteEntriesRoundTrip) {
    RemoteEntry r = ParseRemoteEntry("isp  555-1234 /q/out;/q/news - bbs - - bbs.example YHXXXXXX");
    EXPECT_EQ(r.name, "isp");
    EXPECT_EQ(r.smtpDir, "/q/out");
    EXPECT_EQ(r.nntpDir, "/q/news");
    EXPECT_EQ(r.loginWait, "");
    EXPECT_EQ(r.loginSend, "bbs");
    EXPECT_TRUE(r.defaultNews);
    EXPECT_EQ(r.dialMode, 'H');
    EXPECT_EQ(r.newsAlias, "");
    r.knowsAs = "my bbs";
    r.phone = "9,555x";
    EXPECT_EQ(FormatRemoteEntry(r), "isp 9,555X /q/out;/q/news - bbs - - my_bbs YHXXXXXX -");
    EXPECT_EQ(FormatRemoteEntry(RemoteEntry()), "- - - - - - - - NNXXXXXX -");
    EXPECT_EQ(NewRemoteEntry("bbs.example"), "- - - - - - - bbs.example NNXXXXXX");
    EXPECT_EQ(RemoteListLine("isp 555 /q/out;/q/news"), "isp          /q/out;/q/news");
}

TEST(NetworkDialog, OpensWithTheFileAndSavesEveryRemoteLineDroppingUnknownKeys) {
    NetBbs bbs;
    zarvnetinet d(bbs.ctx);
    EXPECT_EQ(d.windowTitle(), "ZARV - Network Configuration - Internet");
    EXPECT_EQ(Edit(d, "SystemId")->text(), "bbs.example");
    EXPECT_EQ(Edit(d, "SystemId")->toolTip(), "Your full Internet address.");
    EXPECT_EQ(d.findChild<QComboBox*>("Pss")->currentText(), "2048");
    EXPECT_TRUE(d.findChild<QCheckBox*>("AllowRefeed")->isChecked());
    EXPECT_FALSE(d.findChild<QCheckBox*>("StripHdrs")->isChecked());
    EXPECT_EQ(d.findChild<QPushButton*>("cmdRemote")->toolTip(), "Edit your remote systems listing.");

    Edit(d, "SystemId")->setText(" my bbs example ");
    Edit(d, "NetDir")->setText(bbs.spool + "/");
    d.findChild<QComboBox*>("Pss")->setCurrentIndex(1);
    d.findChild<QCheckBox*>("StripHdrs")->setChecked(true);
    Edit(d, "Suffix")->setText("a b");
    d.cmdOK_Click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(bbs.Net9(),
              "systemid=my_bbs_example\r\n"
              "netdir=" +
                  bbs.spool.toLatin1() +
                  "\r\n"
                  "pss=3\r\n"
                  "allowrefeed=Y\r\n"
                  "striphdrs=Y\r\n"
                  "suffix=a_b\r\n"
                  "remote=isp 555-1234 /q/out;/q/news login: bbs password: secret bbs.example YHXXXXXX news\r\n"
                  "remote=second - - - - - - bbs.example NNXXXXXX\r\n");
    EXPECT_FALSE(FileExists(bbs.Path("NET.TMP")));
}

TEST(NetworkDialog, AnInvalidSpoolDirectoryKeepsTheDialogOpen) {
    NetBbs bbs;
    zarvnetinet d(bbs.ctx);
    const Text before = bbs.Net9();
    Edit(d, "NetDir")->setText(bbs.Path("NOWHERE"));
    auto box = AnswerBox();
    d.cmdOK_Click();
    EXPECT_EQ(box->title, "ZARV - Network Configuration");
    EXPECT_EQ(box->text, "The spool directory must be a valid directory!");
    EXPECT_EQ(box->icon, QMessageBox::Critical);
    EXPECT_EQ(bbs.Net9(), before);
    d.show();
    auto again = AnswerBox();
    d.reject();   // closing by any means is refused too
    EXPECT_TRUE(again->seen);
    EXPECT_TRUE(d.isVisible());
    Edit(d, "NetDir")->setText(bbs.spool);
    d.reject();
    EXPECT_FALSE(d.isVisible());
}

TEST(NetworkDialog, SpoolDirectoryKeys) {
    NetBbs bbs;
    zarvnetinet d(bbs.ctx);
    Edit(d, "NetDir")->clear();
    QTest::keyClicks(Edit(d, "NetDir"), "C:\\Zarv Spool/in;x~");
    EXPECT_EQ(Edit(d, "NetDir")->text(), "C:\\ZarvSpool/inx~");
}

TEST(NetworkDialog, UninstallDeletesNet9AfterTheQuestion) {
    NetBbs bbs;
    zarvnetinet d(bbs.ctx);
    auto no = AnswerBox(QMessageBox::No);
    d.cmdUninstall_Click();
    EXPECT_EQ(no->title, "ZARV - Network Removal Confirmation");
    EXPECT_EQ(no->text,
              "Are you sure you want to uninstall this network?\r\nIf you uninstall this network, OSPRINE cannot "
              "function and will exit.");
    EXPECT_TRUE(FileExists(bbs.Path("NET.9")));
    auto yes = AnswerBox(QMessageBox::Yes);
    d.cmdUninstall_Click();
    EXPECT_FALSE(FileExists(bbs.Path("NET.9")));
    EXPECT_TRUE(d.Uninstalled());
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST(RemoteSystems, ListInsertAndEditKeepTheOtherLines) {
    NetBbs bbs;
    zarvnetinetremote d(bbs.ctx, "bbs.example");
    ListFrame* frame = d.Frame();
    EXPECT_EQ(frame->title(), "Remote Entries (2)");
    EXPECT_EQ(frame->List()->item(0)->text(), "1: isp          /q/out;/q/news");
    frame->cmdInsert_Click();
    EXPECT_EQ(frame->Count(), 3);
    EXPECT_TRUE(bbs.Net9().endsWith("remote=- - - - - - - bbs.example NNXXXXXX\r\n"));

    WhenModal([](QWidget* edit) {
        EXPECT_EQ(edit->objectName(), "zarvnetinetremoteedit");
        EXPECT_EQ(edit->findChild<QGroupBox*>("fraRemote")->title(), "Remote Entry 3 / 3");
        EXPECT_EQ(edit->findChild<QLineEdit*>("KnowsAs")->text(), "bbs.example");
        EXPECT_EQ(edit->findChild<QLineEdit*>("LoginWait")->text(), "");
        edit->findChild<QLineEdit*>("RemoteSysName")->setText("new isp");
        QTest::keyClicks(edit->findChild<QLineEdit*>("RemotePhone"), "1;800x");
        edit->findChild<QLineEdit*>("SmtpDir")->setText("/var/out");
        edit->findChild<QComboBox*>("AutoDial")->setCurrentText("Hourly/Local");
        edit->findChild<QPushButton*>("cmdOK")->click();
    });
    frame->cmdEdit_Click();
    EXPECT_EQ(bbs.Net9(),
              "systemid=bbs.example\r\n"
              "netdir=" +
                  bbs.spool.toLatin1() +
                  "\r\n"
                  "pss=7\r\n"
                  "AllowRefeed = y\r\n"
                  "obsolete=1\r\n"
                  "remote=isp 555-1234 /q/out;/q/news login: bbs password: secret bbs.example YHXXXXXX news\r\n"
                  "remote=second - - - - - - bbs.example NNXXXXXX\r\n"
                  "remote=new_isp 1800X /var/out; - - - - bbs.example NHXXXXXX -\r\n");
    frame->List()->setCurrentRow(0);
    frame->cmdDelete_Click();
    EXPECT_EQ(RemoteEntries(ReadLines(bbs.Path("NET.9"))).size(), 2);
}

TEST(MailingLists, LinesAreWrittenInTheirFormat) {
    MailingList list = ParseMailingList("NEWS-R  owner@x.example a@x b@y");
    EXPECT_EQ(list.name, "NEWS-R");
    EXPECT_EQ(list.owner, "owner@x.example");
    EXPECT_EQ(list.subscribers, (TextList{"a@x", "b@y"}));
    list.name = "club news";
    list.owner = " Boss@X.Example ";
    EXPECT_EQ(FormatMailingList(list), "CLUB_NEWS boss@x.example a@x b@y");
    EXPECT_EQ(FormatMailingList(ParseMailingList("EMPTY -")), "EMPTY -");
}

TEST(MailingLists, EditorRefusesToOpenWithoutASpoolDirectory) {
    NetBbs bbs;
    WriteFileAtomic(bbs.Path("NET.9"), "systemid=bbs.example\r\nnetdir=" + bbs.Path("MISSING").toLatin1() + "\r\n");
    auto box = AnswerBox();
    ShowMailingListEditor(bbs.ctx, nullptr);
    EXPECT_EQ(box->title, "ZARVEL - Error");
    EXPECT_EQ(box->text, "The spool directoy has not been configured or does not exist.");
    EXPECT_FALSE(FileExists(bbs.spool + "/LISTSERV.LST"));
}

TEST(MailingLists, ListAndSubscribersAreEditedAndSaved) {
    NetBbs bbs;
    zarvinetmaillist lists(MailingListSpoolDir(bbs.bbs));
    const QString file = bbs.spool + "/LISTSERV.LST";
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(lists.windowTitle(), "ZARV - Mailing List Editor");
    EXPECT_EQ(lists.Frame()->title(), "Mailing List Entries");
    lists.Frame()->cmdInsert_Click();
    EXPECT_EQ(ReadFileBytes(file), "NEWLIST\r\n");

    WhenModal([](QWidget* w) {
        auto* list = qobject_cast<zarvinetmaillistlist*>(w);
        ASSERT_TRUE(list);
        QLineEdit* name = list->findChild<QLineEdit*>("ListName");
        name->clear();
        QTest::keyClicks(name, "club news-r");
        list->findChild<QLineEdit*>("ListOwner")->setText("Sysop@BBS.example");
        list->Subscribers()->cmdInsert_Click();
        list->Subscribers()->cmdInsert_Click();
        WhenModal([](QWidget* edit) {
            EXPECT_EQ(edit->findChild<QGroupBox*>()->title(), "Subscriber 2 / 2");
            edit->findChild<QLineEdit*>("Subscriber")->setText("member@example.org");
            edit->findChild<QPushButton*>("cmdOK")->click();
        });
        list->Subscribers()->cmdEdit_Click();
        list->cmdSave_Click();
    });
    lists.Frame()->cmdEdit_Click();
    EXPECT_EQ(ReadFileBytes(file), "CLUB_NEWS-R sysop@bbs.example user@address member@example.org\r\n");
}

TEST(NetworkDialog, CaptionsAndToolTips) {
    NetBbs bbs;
    zarvnetinet d(bbs.ctx);
    const struct {
        const char* name;
        const char* caption;
        const char* tip;
    } fields[] = {
        {"SystemId", "System Name:", "Your full Internet address."},
        {"NetDir", "Spool Directory:", "The directory to be used for storing incoming and outgoing data."},
        {"Pss", "Max Receive Packet:", "The maximum size of UUCP packets to be received. Recommended = 2048"},
        {"Suffix", "Suffix Address Solution:",
         "This should always be left blank unless you are specifically instructed to enter something by your UUCP provider."},
    };
    for (const auto& f : fields) {
        SCOPED_TRACE(f.name);
        QWidget* control = d.findChild<QWidget*>(f.name);
        ASSERT_TRUE(control);
        EXPECT_EQ(control->toolTip(), f.tip);
        EXPECT_EQ(d.findChild<QLabel*>(QString("lbl") + f.name)->text(), f.caption);
    }
    auto* pss = d.findChild<QComboBox*>("Pss");
    QStringList sizes;
    for (int i = 0; i < pss->count(); ++i) sizes << pss->itemText(i);
    EXPECT_EQ(sizes, (QStringList{"64", "128", "256", "512", "1024", "2048"}));
    bool bytes = false;
    for (QLabel* l : d.findChildren<QLabel*>()) bytes = bytes || l->text() == "bytes";
    EXPECT_TRUE(bytes);
    EXPECT_EQ(d.findChild<QCheckBox*>("AllowRefeed")->text(), "Allow Newsgroup Refeed");
    EXPECT_EQ(d.findChild<QCheckBox*>("StripHdrs")->text(), "Strip RFC822 Headers");
    EXPECT_EQ(d.findChild<QPushButton*>("cmdRemote")->text().remove('&'), "Remote Systems");

    zarvnetinetremote remote(bbs.ctx, "bbs.example");
    EXPECT_EQ(remote.findChild<QGroupBox*>("fraClients")->title(), "Clients");

    zarvnetinetremoteedit edit(bbs.ctx, 1);
    const struct {
        const char* name;
        const char* caption;
        const char* shown;
    } remoteFields[] = {
        {"RemoteSysName", "Remote System Name:", "isp"}, {"RemotePhone", "Remote System Phone:", "555-1234"},
        {"SmtpDir", "- Outgoing SMTP Dir:", "/q/out"},   {"NntpDir", "- Outgoing NNTP Dir:", "/q/news"},
        {"LoginWait", "- Wait-For #1:", "login:"},       {"LoginSend", "- Send #1:", "bbs"},
        {"PasswordWait", "- Wait-For #2:", "password:"}, {"PasswordSend", "- Send #2:", "secret"},
        {"KnowsAs", "Knows Us As:", "bbs.example"},      {"NewsAlias", "News Server Alias:", "news"},
    };
    for (const auto& f : remoteFields) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(edit.findChild<QLineEdit*>(f.name));
        EXPECT_EQ(edit.findChild<QLineEdit*>(f.name)->text(), f.shown);
        EXPECT_EQ(edit.findChild<QLabel*>(QString("lbl") + f.name)->text(), f.caption);
    }
    EXPECT_EQ(edit.findChild<QCheckBox*>("DefaultNews")->text(), "Default News Server");
    EXPECT_TRUE(edit.findChild<QCheckBox*>("DefaultNews")->isChecked());
    auto* dial = edit.findChild<QComboBox*>("AutoDial");
    EXPECT_EQ(edit.findChild<QLabel*>("lblAutoDial")->text(), "Automatic Dial-Out:");
    QStringList modes;
    for (int i = 0; i < dial->count(); ++i) modes << dial->itemText(i);
    EXPECT_EQ(modes, (QStringList{"Disabled", "Daily/LD", "Daily/Local", "Hourly/Local"}));
    EXPECT_EQ(dial->currentText(), "Hourly/Local");
    EXPECT_EQ(edit.findChild<QGroupBox*>("fraRemote")->title(), "Remote Entry 1 / 2");
}

TEST(NetworkDialog, BrowseAsksWithItsPromptAndCancelKeepsTheField) {
    NetBbs bbs;
    zarvnetinet d(bbs.ctx);
    QString prompt;
    WhenModal([&](QWidget* chooser) {
        prompt = chooser->windowTitle();
        chooser->close();
    });
    d.findChild<QPushButton*>("cmdBrowse")->click();
    EXPECT_EQ(prompt, "Please select a folder.");
    EXPECT_EQ(Edit(d, "NetDir")->text(), bbs.spool);
}

TEST(NetworkDialog, BrowsePutsTheChosenFolderInTheFieldButNotOneWithASpace) {
    NetBbs bbs;
    zarvnetinet d(bbs.ctx);
    auto choose = [&](const QString& folder) {
        WhenModal([folder](QWidget* w) {
            auto* chooser = qobject_cast<QFileDialog*>(w);
            ASSERT_TRUE(chooser);
            chooser->setDirectory(folder);   // no selection: the chooser answers its directory
            static_cast<QDialog*>(chooser)->accept();
        });
    };
    const QString plain = bbs.Path("OUT"), spaced = bbs.Path("MY OUT");
    QDir().mkpath(plain);
    QDir().mkpath(spaced);
    choose(plain);
    d.findChild<QPushButton*>("cmdBrowse")->click();
    EXPECT_EQ(QFileInfo(Edit(d, "NetDir")->text()).canonicalFilePath(), QFileInfo(plain).canonicalFilePath());

    const QString before = Edit(d, "NetDir")->text();
    std::shared_ptr<BoxSeen> refusal;
    WhenModal([&](QWidget* w) {
        auto* chooser = qobject_cast<QFileDialog*>(w);
        ASSERT_TRUE(chooser);
        chooser->setDirectory(spaced);
        refusal = AnswerBox();   // the refusal follows the chooser
        static_cast<QDialog*>(chooser)->accept();
    });
    d.findChild<QPushButton*>("cmdBrowse")->click();
    ASSERT_TRUE(refusal && refusal->seen);
    EXPECT_TRUE(refusal->text.endsWith("cannot be used: its path contains a space.")) << refusal->text.toStdString();
    EXPECT_EQ(Edit(d, "NetDir")->text(), before);
}

TEST(MailingLists, FieldsCarryTheirToolTipsAndTheSubscribersFrame) {
    NetBbs bbs;
    const QString file = bbs.spool + "/LISTSERV.LST";
    WriteFileAtomic(file, "NEWS-R owner@x.example a@x b@y\r\n");
    zarvinetmaillistlist list(file, 1);
    EXPECT_EQ(list.findChild<QLineEdit*>("ListName")->toolTip(),
              "The name of the mailing list. For read-only lists, end the name with \"-R\".");
    EXPECT_EQ(list.findChild<QLineEdit*>("ListOwner")->toolTip(), "The email address of the owner of the list.");
    EXPECT_EQ(list.Subscribers()->title(), "Subscribers");
    EXPECT_EQ(list.Subscribers()->Count(), 2);
    list.findChild<QLineEdit*>("ListOwner")->clear();
    list.cmdSave_Click();
    EXPECT_EQ(ReadFileBytes(file), "NEWS-R - a@x b@y\r\n");

    // A list without a name is refused: its owner would become the name.
    list.findChild<QLineEdit*>("ListName")->setText("  ");
    auto box = AnswerBox();
    list.cmdSave_Click();
    EXPECT_EQ(box->text, "The list name cannot be empty.");
    EXPECT_EQ(ReadFileBytes(file), "NEWS-R - a@x b@y\r\n");
}
