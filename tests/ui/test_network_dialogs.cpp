// The Internet network dialogs: NET.9 through NET.TMP, the remote systems
// and the mailing-list editor.
#include "UiTestSupport.h"
#include "server/ui/InetNetwork.h"
#include "server/ui/LineFiles.h"
#include "server/ui/ListFrame.h"
#include "server/ui/MailingLists.h"
#include "server/ui/NetworkDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct NetBbs : UiBbs {
    QString spool;
    NetBbs() {
        spool = Path("SPOOL");
        QDir().mkpath(spool);
        WriteFileAtomic(Path("NET.9"), "systemid=bbs.example\r\n"
                                       "netdir=" + spool.toLatin1() + "\r\n"
                                       "pss=7\r\n"
                                       "AllowRefeed = y\r\n"
                                       "obsolete=1\r\n"
                                       "remote=isp 555-1234 /q/out;/q/news login: bbs password: secret bbs.example YHXXXXXX news\r\n"
                                       "remote=second - - - - - - bbs.example NNXXXXXX\r\n");
    }
    Text Net9() const { return ReadFileBytes(Path("NET.9")); }
};

QLineEdit* Edit(QWidget& w, const char* name) { return w.findChild<QLineEdit*>(name); }

}  // namespace

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
    EXPECT_EQ(bbs.Net9(), "systemid=my_bbs_example\r\n"
                          "netdir=" + bbs.spool.toLatin1() + "\r\n"
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
    EXPECT_EQ(no->text, "Are you sure you want to uninstall this network?\r\nIf you uninstall this network, OSPRINE cannot "
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
    EXPECT_EQ(bbs.Net9(), "systemid=bbs.example\r\n"
                          "netdir=" + bbs.spool.toLatin1() + "\r\n"
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
