// The settings dialog: captions, tool tips, key filters, dependencies and
// what OK writes to "OSPRINE.CFG".
#include "UiTestSupport.h"
#include "server/store/KeyedList.h"
#include "server/store/KeyedSettings.h"
#include "server/store/Text.h"
#include "server/ui/Latin1.h"
#include "server/ui/ServerConfigDialog.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <stdexcept>

namespace {

QLineEdit* Edit(QWidget& d, const char* name) { return d.findChild<QLineEdit*>(name); }
QCheckBox* Check(QWidget& d, const char* name) { return d.findChild<QCheckBox*>(name); }
QLabel* Label(QWidget& d, const char* name) { return d.findChild<QLabel*>(QString("lbl") + name); }
void ClickOk(QWidget& d) { d.findChild<QPushButton*>("cmdOK")->click(); }

struct Caption {
    const char* name;
    const char* caption;
    const char* tip;
};

const Caption kTextCaptions[] = {
    {"Port", "SMTP Listening Port:", "The port that OSPRN will listen for incoming SMTP connections."},
    {"MaxConnections", "Max. SMTP Connections:", "The maximum  number of simultaneous SMTP connections."},
    {"MaxLogSize", "Maximum Log Size:", "The maximum size of the log file before it is rotated (in bytes)."},
    {"MaxMailSize",
     "Maximum Message Size:", "The maximum size of incoming messages, including attachments (in bytes), max 10MB. "},
    {"ClientHost", "SMTP Server Hostname:", "The hostname or IP address of your ISP's SMTP server."},
    {"ClientPort", "SMTP Server Port:", "The port number your ISP's SMTP server uses."},
    {"AuthUsername", "Username:", "The username to use when authenticating the connection."},
    {"AuthPassword", "Password:", "The password to use when authenticating the connection."},
    {"Pop3Host", "POP3 Server:", "The hostname or IP address of your ISP's POP3 server."},
    {"Pop3Port", "POP3 Port:", "The port that your ISP's POP3 server uses."},
    {"Pop3Username", "Username:", "The username to use when connecting to your ISP POP3 server."},
    {"Pop3Password", "Password:", "The password to use when connecting to your ISP POP3 server."},
    {"AutorespondUser", "Autoresponder User No.:", "Enter the user number of the autoresponder account."},
    {"MaxFreqSize", "Max. FREQ Filesize:", "The maximum size of a file that can be requested (in bytes), max 10MB."},
};

const Caption kCheckCaptions[] = {
    {"VerifyUser", "Perform User Verification",
     "If enabled, OSPRINE will check to see if the mail recipient is a valid user or alias."},
    {"AutoVerify", "Automatically Add Users to HANDLES.UIP",
     "If enabled, OSPRINE will automatically add valid BBS users to HANDLES.UIP if they are missing. Any entries with the "
     "same user number will be removed."},
    {"EmailUserNumber", "Allow Mail to User Numbers",
     "If enabled then incoming mail addressed to a user number will be allowed."},
    {"CheckFlags", "Recipient Must Have Internet Flag",
     "If enabled, the recipient must have the flag set for the Internet in NETWORKS.LST."},
    {"AllowVrfy", "Allow VRFY Query", "If enabled, user queries with the VRFY command are allowed."},
    {"AllowExpn", "Allow EXPN Query", "If enabled, mailing list queries using the EXPN command are allowed."},
    {"AllowCarbonCopy", "Process Cc: and Bcc: Headers",
     "If enabled, then OSPRINE will attempt to deliver the message to all addresses. This should typically be disabled."},
    {"SpamAssassin", "Enable SpamAssassin",
     "If enabled, OSPRINE will execute SpamAssassin for spam checking. SpamAssassin must be installed properly for this to work."},
    {"SmtpClient", "Enable SMTP Client", "Enable if you want OSPRINE to process outgoing mail."},
    {"ClientAuth", "Enable SMTP Authentication", "If your ISP SMTP server requires authentication, enable this."},
    {"Pop3Before", "Enable POP3 Before SMTP",
     "If your ISP SMTP server requires a POP3 connection before the SMTP connection, enable this."},
    {"DailyMaint", "Perform Daily Maintenance",
     "If enabled, OSPRINE will rebuild and clean up the HANDLES.UIP each night. THIS WILL DESTROY ANY CUSTOM ENTRIES YOU MAY HAVE."},
    {"AllowFreq", "Enable File Requests (FREQ)", "If you want to allow FREQing, enable this."},
    {"CloseToTaskbar", "Close to Taskbar",
     "If enabled, OSPRINE will minimize itself instead of exiting when told to close using the X button."},
    {"SaveStats", "Maintain Statistical Information",
     "Enable this option if you want OSPRINE to remember the statistics between sessions."},
    {"SaveWindowPos", "Save Window Position on Exit",
     "If enabled, OSPRINE will remember the window position when closed."},
    {"ShowEventWindow", "Show Event Windows",
     "Enable if you would like the event windows to be visible when executed."},
    {"MinToTray", "Minimize to System Tray", "Enable if you would like OSPRN to minimize to the system tray."},
};

int16_t Int16At(const Text& b, int at) { return int16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }
int32_t Int32At(const Text& b, int at) {
    return int32_t(uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
                   uint32_t(uint8_t(b[at + 3])) << 24);
}

}   // namespace

TEST(ServerConfig, EveryControlHasItsCaptionAndToolTip) {
    UiBbs bbs;
    frmServerConfig d(bbs.ctx);
    EXPECT_EQ(d.windowTitle(), "OSPRINE - Configuration");
    auto* tabs = d.findChild<QTabBar*>("tbsOptions");
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(0), "SMTP &Server");
    EXPECT_EQ(tabs->tabText(1), "SMTP &Client");
    EXPECT_EQ(tabs->tabText(2), "&Miscellaneous");
    EXPECT_EQ(tabs->tabText(3), "&Keyed Settings");
    EXPECT_EQ(d.findChild<QPushButton*>("cmdCancel")->text(), "Cancel");
    for (const Caption& c : kTextCaptions) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Edit(d, c.name));
        EXPECT_EQ(Label(d, c.name)->text(), c.caption);
        EXPECT_EQ(Edit(d, c.name)->toolTip(), c.tip);
    }
    for (const Caption& c : kCheckCaptions) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Check(d, c.name));
        EXPECT_EQ(Check(d, c.name)->text(), c.caption);
        EXPECT_EQ(Check(d, c.name)->toolTip(), c.tip);
    }
    QStringList frames;
    for (auto* f : d.findChildren<QGroupBox*>()) frames << f->title();
    for (const char* f :
         {"SMTP Server (Inbound)", "Options", "Advanced Options", "SMTP Client (Outbound)", "SMTP Authentication",
          "POP3 Before SMTP", "Maintenance", "File Request Options", "Miscellaneous"})
        EXPECT_TRUE(frames.contains(f)) << f;
}

TEST(ServerConfig, TabsShowOnePageAtATime) {
    UiBbs bbs;
    frmServerConfig d(bbs.ctx);
    d.show();
    auto page = [&](int i) { return d.findChild<QWidget*>(QString("picOptions%1").arg(i)); };
    EXPECT_TRUE(page(0)->isVisible());
    EXPECT_FALSE(page(1)->isVisible());
    d.findChild<QTabBar*>("tbsOptions")->setCurrentIndex(2);
    EXPECT_FALSE(page(0)->isVisible());
    EXPECT_TRUE(page(2)->isVisible());
}

TEST(ServerConfig, ControlsShowTheRecord) {
    UiBbs bbs;
    bbs.settings.Port = 2525;
    bbs.settings.ClientHost = "  smtp.example  ";
    bbs.settings.AllowExpn = 1;
    bbs.settings.AllowVrfy = 0;
    frmServerConfig d(bbs.ctx);
    EXPECT_EQ(Edit(d, "Port")->text(), "2525");
    EXPECT_EQ(Edit(d, "MaxMailSize")->text(), "2097152");
    EXPECT_EQ(Edit(d, "ClientHost")->text(), "smtp.example");
    EXPECT_TRUE(Check(d, "AllowExpn")->isChecked());
    EXPECT_FALSE(Check(d, "AllowVrfy")->isChecked());
}

TEST(ServerConfig, DigitFieldsRefuseLettersOthersTakeThem) {
    UiBbs bbs;
    bbs.settings.AllowFreq = 1;
    bbs.settings.Pop3Before = 1;
    frmServerConfig d(bbs.ctx);
    for (const char* name : {"Port", "MaxConnections", "MaxLogSize", "AutorespondUser", "MaxFreqSize"}) {
        Edit(d, name)->clear();
        QTest::keyClicks(Edit(d, name), "2a5.b6 x");
        EXPECT_EQ(Edit(d, name)->text(), "25.6") << name;
    }
    for (const char* name : {"MaxMailSize", "ClientPort", "Pop3Port"}) {
        Edit(d, name)->clear();
        QTest::keyClicks(Edit(d, name), "1x");
        EXPECT_EQ(Edit(d, name)->text(), "1x") << name;
    }
    QTest::keyClick(Edit(d, "Port"), Qt::Key_Backspace);
    EXPECT_EQ(Edit(d, "Port")->text(), "25.");
}

TEST(ServerConfig, CheckboxesGreyOutTheirFields) {
    UiBbs bbs;
    bbs.settings.SmtpClient = 1;
    bbs.settings.ClientAuth = 1;
    bbs.settings.Pop3Before = 0;
    bbs.settings.AllowFreq = 0;
    frmServerConfig d(bbs.ctx);
    d.show();
    EXPECT_TRUE(Edit(d, "AuthUsername")->isEnabled());
    EXPECT_TRUE(Label(d, "AuthPassword")->isEnabled());
    EXPECT_FALSE(Edit(d, "Pop3Host")->isEnabled());
    EXPECT_FALSE(Label(d, "Pop3Port")->isEnabled());
    EXPECT_FALSE(Edit(d, "MaxFreqSize")->isEnabled());
    EXPECT_FALSE(Label(d, "MaxFreqSize")->isEnabled());

    // Unchecking the client greys out the whole page, even the checked groups.
    d.findChild<QTabBar*>("tbsOptions")->setCurrentIndex(1);
    Check(d, "SmtpClient")->click();
    for (const char* name : {"ClientHost", "ClientPort", "AuthUsername", "AuthPassword", "Pop3Host", "Pop3Username"})
        EXPECT_FALSE(Edit(d, name)->isEnabled()) << name;
    EXPECT_FALSE(Check(d, "ClientAuth")->isEnabled());
    EXPECT_FALSE(Check(d, "Pop3Before")->isEnabled());
    EXPECT_FALSE(d.findChild<QGroupBox*>("fraAuth")->isEnabled());

    // Checking it again restores each group according to its own checkbox.
    Check(d, "SmtpClient")->click();
    EXPECT_TRUE(Edit(d, "ClientHost")->isEnabled());
    EXPECT_TRUE(Edit(d, "AuthUsername")->isEnabled());
    EXPECT_FALSE(Edit(d, "Pop3Host")->isEnabled());
    Check(d, "Pop3Before")->click();
    EXPECT_TRUE(Edit(d, "Pop3Password")->isEnabled());
    Check(d, "ClientAuth")->click();
    EXPECT_FALSE(Edit(d, "AuthUsername")->isEnabled());

    d.findChild<QTabBar*>("tbsOptions")->setCurrentIndex(2);
    Check(d, "AllowFreq")->click();
    EXPECT_TRUE(Edit(d, "MaxFreqSize")->isEnabled());
}

TEST(ServerConfig, OkReadsNumbersLenientlyAndAppliesTheRangeChecks) {
    UiBbs bbs;
    frmServerConfig d(bbs.ctx);
    Edit(d, "Port")->setText("25.6");
    Edit(d, "MaxConnections")->setText("0");
    Edit(d, "ClientPort")->setText("");
    Edit(d, "Pop3Port")->setText("pop");
    Edit(d, "AutorespondUser")->setText("0");
    Edit(d, "MaxMailSize")->setText("100000000");
    Edit(d, "ClientHost")->setText(" " + QString(40, 'h') + " ");
    ClickOk(d);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(bbs.saves, 1);

    const Text file = ReadFileBytes(SettingsPath(bbs.MainDir()));
    ASSERT_EQ(file.size(), 250);
    EXPECT_EQ(Int16At(file, 0), 26);
    EXPECT_EQ(Int16At(file, 2), 1);
    EXPECT_EQ(Int16At(file, 24), 25);
    EXPECT_EQ(file.mid(26, 30), Text(30, 'h'));
    EXPECT_EQ(Int16At(file, 224), 110);
    EXPECT_EQ(Int32At(file, 232), 1);
    EXPECT_EQ(Int32At(file, 242), 100000000);        // saved as typed ...
    EXPECT_EQ(bbs.settings.MaxMailSize, 10485760);   // ... held at the limit after the reload
    EXPECT_EQ(bbs.settings.ClientHost, Text(30, 'h'));
}

TEST(ServerConfig, OkClampsLargeCountsAndTruncatesPoints) {
    UiBbs bbs;
    frmServerConfig d(bbs.ctx);
    Edit(d, "Port")->setText("2.5");
    Edit(d, "MaxConnections")->setText("500");
    ClickOk(d);
    EXPECT_EQ(bbs.settings.Port, 2);
    EXPECT_EQ(bbs.settings.MaxConnections, 200);
}

TEST(ServerConfig, OkWritesTheWholeRecordByteForByte) {
    UiBbs bbs;
    frmServerConfig d(bbs.ctx);
    Edit(d, "Port")->setText("2525");
    Edit(d, "MaxLogSize")->setText("4096");
    Check(d, "SmtpClient")->setChecked(true);
    Edit(d, "ClientHost")->setText("mail.isp.example");
    Check(d, "ClientAuth")->setChecked(true);
    Edit(d, "AuthUsername")->setText("sysop");
    Edit(d, "AuthPassword")->setText("secret");
    Check(d, "AllowExpn")->setChecked(true);
    Check(d, "SaveStats")->setChecked(true);
    ClickOk(d);

    Text expected(250, '\0');
    auto put16 = [&](int at, int v) {
        expected[at] = char(v & 0xff);
        expected[at + 1] = char(v >> 8 & 0xff);
    };
    auto put32 = [&](int at, int v) {
        for (int i = 0; i < 4; ++i) expected[at + i] = char(v >> (8 * i) & 0xff);
    };
    auto text = [&](int at, const Text& t, int width) { expected.replace(at, width, StrPad(t, width)); };
    put16(0, 2525);
    put16(2, 10);
    put16(4, 1);
    put16(6, 1);
    put32(8, 4096);
    put16(12, 0);
    text(14, "000000", 6);
    put16(20, 1);
    put16(22, 1);
    put16(24, 25);
    text(26, "mail.isp.example", 30);
    put16(56, 1);
    text(58, "sysop", 30);
    text(88, "secret", 30);
    put16(118, 0);
    text(120, "", 30);
    text(150, "", 30);
    text(180, "", 30);
    put16(210, 1);
    put16(212, 0);
    put16(214, 0);
    put16(216, 0);
    put16(218, 0);
    put16(220, 0);
    put16(222, 0);
    put16(224, 110);
    put16(226, 0);
    put16(228, 1);
    put16(230, 1);
    put32(232, 1);
    put16(236, 0);
    put32(238, 2097152);
    put32(242, 2097152);
    put16(246, 1);
    put16(248, 0);
    EXPECT_EQ(ReadFileBytes(SettingsPath(bbs.MainDir())).toHex(), expected.toHex());
}

// The TLS choices live in the keyed list beside the other lists, which OK
// keeps; both files that hold passwords are for their owner's eyes only.
TEST(ServerConfig, TlsChoicesLiveInTheKeyedList) {
    UiBbs bbs;
    PutData("relaydb", "bl.example", bbs.KeyedList());
    PutData("clienttls", "Implicit", bbs.KeyedList());
    PutData("servertlscert", "/etc/osprine/cert.pem", bbs.KeyedList());
    bbs.tlsState = "Inbound TLS not active: no certificate and key files set.";
    frmServerConfig d(bbs.ctx);
    auto* clientTls = d.findChild<QComboBox*>("clienttls");
    auto* pop3Tls = d.findChild<QComboBox*>("pop3tls");
    ASSERT_TRUE(clientTls && pop3Tls);
    QStringList modes;
    for (int i = 0; i < clientTls->count(); ++i) modes << clientTls->itemText(i);
    EXPECT_EQ(modes,
              (QStringList{"Automatic (TLS when offered)", "STARTTLS required", "Implicit TLS", "None (clear text)"}));
    EXPECT_EQ(clientTls->currentText(), "Implicit TLS");
    EXPECT_EQ(pop3Tls->currentText(), "Automatic (TLS when offered)");
    EXPECT_EQ(Edit(d, "servertlscert")->text(), "/etc/osprine/cert.pem");
    EXPECT_EQ(d.findChild<QLabel*>("lblTlsState")->text(), "Inbound TLS not active: no certificate and key files set.");
    for (const char* browse : {"cmdBrowseclienttlsca", "cmdBrowseservertlscert", "cmdBrowseservertlskey"})
        EXPECT_TRUE(d.findChild<QPushButton*>(browse)) << browse;

    pop3Tls->setCurrentIndex(1);
    Edit(d, "clienttlsca")->setText("  /etc/osprine/isp-ca.pem ");
    Edit(d, "AuthPassword")->setText("secret");
    ClickOk(d);
    EXPECT_EQ(GetData("pop3tls", bbs.KeyedList()), "starttls");
    EXPECT_EQ(GetData("clienttls", bbs.KeyedList()), "Implicit");   // unchanged, not rewritten
    EXPECT_EQ(GetData("clienttlsca", bbs.KeyedList()), "/etc/osprine/isp-ca.pem");
    EXPECT_EQ(GetData("relaydb", bbs.KeyedList()), "bl.example");
    for (const QString& file : {SettingsPath(bbs.MainDir()), bbs.KeyedList()})
        EXPECT_EQ(QFileInfo(file).permissions(),
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser)
            << file.toStdString();
}

// Every keyed setting has a control: the TLS ones on their pages, each other
// row of the table on the keyed page, checked on OK as osprinectl checks it.
// A long path shows its end, and all of it as the tool tip.
TEST(ServerConfig, EveryKeyedSettingHasAControlCheckedAsTheCommandLineChecksIt) {
    UiBbs bbs;
    PutData("maxperip", "7", bbs.KeyedList());
    const QString longPath = "/srv/zarvel/a/rather/deep/folder/for/the/certificates/of/this/bbs/bbs.example.pem";
    PutData("servertlscert", longPath.toLatin1(), bbs.KeyedList());
    frmServerConfig d(bbs.ctx);
    auto* keyed = d.findChild<QGroupBox*>("fraKeyed");
    ASSERT_TRUE(keyed);
    for (const KeyedSetting& k : KeyedSettings()) {
        SCOPED_TRACE(k.key);
        QWidget* control = d.findChild<QWidget*>(k.key);
        ASSERT_TRUE(control);
        if (!keyed->isAncestorOf(control)) continue;
        auto* edit = qobject_cast<QLineEdit*>(control);
        ASSERT_TRUE(edit);
        EXPECT_EQ(edit->toolTip(), k.description);
        EXPECT_EQ(edit->text(), Q(KeyedSettingValue(k, bbs.KeyedList())));
    }
    EXPECT_EQ(Edit(d, "maxperip")->text(), "7");
    EXPECT_EQ(Edit(d, "acceptrate")->text(), "1");
    EXPECT_EQ(Edit(d, "servertlscert")->toolTip(), longPath);
    EXPECT_EQ(Edit(d, "servertlscert")->cursorPosition(), longPath.size());

    Edit(d, "maxperip")->setText("many");
    QTimer::singleShot(0, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->accept();
    });
    ClickOk(d);
    EXPECT_EQ(GetData("maxperip", bbs.KeyedList()), "7");
    EXPECT_EQ(d.result(), 0);   // still open
    Edit(d, "maxperip")->setText(" 12 ");
    Edit(d, "esmtp")->setText("1");
    ClickOk(d);
    EXPECT_EQ(GetData("maxperip", bbs.KeyedList()), "12");
    EXPECT_EQ(GetData("esmtp", bbs.KeyedList()), "1");
    EXPECT_EQ(GetData("acceptrate", bbs.KeyedList()), "");   // unchanged, not written
}

// A 1024 x 768 screen at 120 dpi (nine-point text 15 pixels high) holds the
// dialog with its title bar and a task bar.
TEST(ServerConfig, FitsA1024By768ScreenAt120Dpi) {
    const QFont before = QApplication::font();
    QFont font = before;
    font.setPixelSize(15);
    QApplication::setFont(font);
    {
        UiBbs bbs;
        frmServerConfig d(bbs.ctx);
        const QSize hint = d.sizeHint();
        EXPECT_LE(hint.width(), 1024);
        EXPECT_LE(hint.height(), 768 - 80) << hint.height();
        d.resize(hint);
        d.show();
        for (int i = 0; i < 4; ++i) {
            d.findChild<QTabBar*>("tbsOptions")->setCurrentIndex(i);
            EXPECT_LE(d.height(), 768 - 80);
        }
    }
    QApplication::setFont(before);
}

TEST(ServerConfig, ActiveSessionGreysPortAndConnectionsAndOkKeepsThem) {
    UiBbs bbs;
    bbs.active = true;
    bbs.settings.Port = 2525;
    bbs.settings.MaxConnections = 12;
    frmServerConfig d(bbs.ctx);
    EXPECT_FALSE(Edit(d, "Port")->isEnabled());
    EXPECT_FALSE(Label(d, "Port")->isEnabled());
    EXPECT_FALSE(Edit(d, "MaxConnections")->isEnabled());
    EXPECT_TRUE(Edit(d, "MaxLogSize")->isEnabled());
    ClickOk(d);
    EXPECT_EQ(bbs.settings.Port, 2525);
    EXPECT_EQ(bbs.settings.MaxConnections, 12);
}

TEST(ServerConfig, CancelChangesNothing) {
    UiBbs bbs;
    frmServerConfig d(bbs.ctx);
    Edit(d, "Port")->setText("99");
    Check(d, "MinToTray")->setChecked(false);
    d.findChild<QPushButton*>("cmdCancel")->click();
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(bbs.settings.Port, 25);
    EXPECT_EQ(bbs.settings.MinToTray, 1);
    EXPECT_FALSE(FileExists(SettingsPath(bbs.MainDir())));
}

TEST(ServerConfig, AFaultWhileLoadingClosesTheDialogWithoutSaving) {
    UiBbs bbs;
    // The session check is the one outside call the form makes while loading;
    // a throwing one stands in for a run-time fault there.
    bbs.ctx.IsActive = []() -> bool { throw std::runtime_error("session table unreadable"); };
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(bbs.MainDir());   // the error log is written to the working directory
    auto box = AnswerBox();
    frmServerConfig d(bbs.ctx);
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->title, "OSPRINE - Error");
    EXPECT_EQ(box->text, "An error occurred; closing configuration.");
    EXPECT_EQ(box->icon, QMessageBox::Critical);
    EXPECT_TRUE(d.LoadFailed());
    EXPECT_EQ(d.exec(), QDialog::Rejected);
    EXPECT_EQ(bbs.saves, 0);
    EXPECT_TRUE(ReadFileText(bbs.Path("ZRVERROR.LOG")).contains("frmServerConfig"));
    QDir::setCurrent(previousDir);
}
