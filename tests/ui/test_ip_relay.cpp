// The IP restriction and relay database dialogs.
#include "UiTestSupport.h"
#include "server/lists/IpPatterns.h"
#include "server/store/KeyedList.h"
#include "server/ui/IpConfigDialog.h"
#include "server/ui/RelayConfigDialog.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

// Shows the dialog as the active window, so the boxes can hold the focus.
void ShowActive(QWidget& d) {
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
}

void TypeIp(frmIpConfig& d, const char* keys) {
    d.findChild<QLineEdit*>("txtIp1")->setFocus();
    // The boxes move the focus themselves on "."; the keys go to whichever has it.
    for (const char* k = keys; *k; ++k) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_TRUE(focus);
        QTest::keyClick(focus, *k);
    }
}

int16_t AllowOnlyInFile(const UiBbs& bbs) {
    const Text file = ReadFileBytes(SettingsPath(bbs.MainDir()));
    return file.size() == 250 ? int16_t(uint8_t(file[216]) | uint8_t(file[217]) << 8) : -1;
}

}   // namespace

TEST(IpPatterns, SortedByAddressWithStarsFirst) {
    EXPECT_EQ(SortIpPatterns({"10.0.0.10", "10.0.0.2", "10.0.0.1"}), (TextList{"10.0.0.1", "10.0.0.2", "10.0.0.10"}));
    EXPECT_EQ(SortIpPatterns({"10.1.0.1", "10.*.0.1", "10.0.0.1", "9.9.9.9"}),
              (TextList{"9.9.9.9", "10.*.0.1", "10.0.0.1", "10.1.0.1"}));
    EXPECT_EQ(SortIpPatterns({"0.0.0.0", "", "192.168.001.007"}), (TextList{"192.168.1.7"}));
}

TEST(IpConfig, AddingThroughTheBoxesKeepsTheListInOrder) {
    UiBbs bbs;
    frmIpConfig d(bbs.ctx);
    ShowActive(d);
    EXPECT_EQ(d.windowTitle(), "OSPRINE - IP Restrictions");
    for (const char* ip : {"10.0.0.10", "10.0.0.2", "10.0.0.1", "10.*.0.1", "0.0.0.0"}) {
        TypeIp(d, ip);
        d.findChild<QPushButton*>("cmdAdd")->click();
        EXPECT_EQ(d.findChild<QLineEdit*>("txtIp1")->text(), "");
    }
    EXPECT_EQ(d.Patterns(), (QStringList{"10.*.0.1", "10.0.0.1", "10.0.0.2", "10.0.0.10"}));
    EXPECT_EQ(GetData("ipconfig", bbs.KeyedList()), "10.*.0.1;10.0.0.1;10.0.0.2;10.0.0.10");
}

TEST(IpConfig, BoxKeysAndIncompleteAddresses) {
    UiBbs bbs;
    frmIpConfig d(bbs.ctx);
    ShowActive(d);
    TypeIp(d, "1x2.3");
    EXPECT_EQ(d.findChild<QLineEdit*>("txtIp1")->text(), "12");
    EXPECT_EQ(d.findChild<QLineEdit*>("txtIp2")->text(), "3");
    QTest::keyClick(QApplication::focusWidget(), '*');
    EXPECT_EQ(d.findChild<QLineEdit*>("txtIp2")->text(), "*");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "txtIp1");
    d.findChild<QPushButton*>("cmdAdd")->click();   // two boxes empty: nothing is added
    EXPECT_TRUE(d.Patterns().isEmpty());
    EXPECT_EQ(d.findChild<QPushButton*>("cmdAdd")->toolTip(), "Add this IP address.");
    EXPECT_EQ(d.findChild<QPushButton*>("cmdRemove")->toolTip(), "Remove the selected IP address.");
}

TEST(IpConfig, Ipv6NetworksAreTypedInOneLineAndARefusalIsExplained) {
    UiBbs bbs;
    PutData("ipconfig", "10.0.0.1", bbs.KeyedList());
    frmIpConfig d(bbs.ctx);
    auto* line = d.findChild<QLineEdit*>("txtIpv6");
    auto* add = d.findChild<QPushButton*>("cmdAddIpv6");
    EXPECT_EQ(add->toolTip(), "Add this IPv6 address or network.");
    for (const char* row : {"2001:DB8:0::/32", " ::1/128", "::1"}) {
        line->setText(row);
        add->click();
        EXPECT_EQ(line->text(), "");
    }
    EXPECT_EQ(GetData("ipconfig", bbs.KeyedList()), "10.0.0.1;::1;::1/128;2001:db8::/32");
    EXPECT_EQ(d.Patterns(), (QStringList{"10.0.0.1", "::1", "::1/128", "2001:db8::/32"}));
    auto box = AnswerBox();
    line->setText("2001:db8::/129");
    add->click();
    EXPECT_TRUE(box->seen);
    EXPECT_EQ(box->title, "OSPRINE - IP Restrictions");
    EXPECT_EQ(box->text, "The prefix length must be a number from 0 to 128.");
    EXPECT_EQ(line->text(), "2001:db8::/129");
    EXPECT_EQ(GetData("ipconfig", bbs.KeyedList()), "10.0.0.1;::1;::1/128;2001:db8::/32");
}

TEST(IpConfig, RemoveAndClose) {
    UiBbs bbs;
    PutData("ipconfig", "1.2.3.4;5.6.7.8", bbs.KeyedList());
    frmIpConfig d(bbs.ctx);
    d.findChild<QPushButton*>("cmdRemove")->click();
    d.findChild<QPushButton*>("cmdRemove")->click();
    EXPECT_EQ(ReadFileBytes(bbs.KeyedList()), "ipconfig=\r\n");
    d.findChild<QPushButton*>("cmdClose")->click();
    EXPECT_FALSE(FileExists(bbs.KeyedList()));
}

TEST(IpConfig, TheAllowBlockOptionIsSavedAtOnce) {
    UiBbs bbs;
    bbs.settings.IpAllowOnly = 1;
    frmIpConfig d(bbs.ctx);
    auto* allow = d.findChild<QRadioButton*>("optAllowBlock0");
    auto* block = d.findChild<QRadioButton*>("optAllowBlock1");
    EXPECT_EQ(allow->text(), "Allow");
    EXPECT_EQ(allow->toolTip(), "Only allow the IP's listed to connect.");
    EXPECT_EQ(block->toolTip(), "Block the listed IP's from connecting.");
    EXPECT_TRUE(allow->isChecked());
    EXPECT_EQ(bbs.saves, 0);
    block->click();
    EXPECT_EQ(bbs.settings.IpAllowOnly, 0);
    EXPECT_EQ(AllowOnlyInFile(bbs), 0);
    allow->click();
    EXPECT_EQ(AllowOnlyInFile(bbs), 1);
    d.reject();
    EXPECT_EQ(AllowOnlyInFile(bbs), 1);
}

TEST(RelayConfig, ZonesAreAddedMovedAndRemoved) {
    UiBbs bbs;
    bbs.settings.RelayEnable = 1;
    PutData("relaydb", "a.example;b.example", bbs.KeyedList());
    bbs.zonesOutOfService.insert("b.example", "it lists every address");
    frmRelayConfig d(bbs.ctx);
    EXPECT_EQ(d.windowTitle(), "OSPRINE - Relay DB Configuration");
    auto* list = d.findChild<QListWidget*>("lstRelay");
    EXPECT_EQ(list->item(0)->text(), "a.example");
    EXPECT_EQ(list->item(1)->text(), "b.example (out of service)");
    EXPECT_EQ(list->item(1)->toolTip(), "Not asked until the next daily check: it lists every address.");
    EXPECT_EQ(d.findChild<QGroupBox*>("fraRelay")->title(), "Relay Databases");
    EXPECT_EQ(d.findChild<QCheckBox*>("RelayEnable")->text(), "Enable");
    EXPECT_EQ(d.findChild<QPushButton*>("cmdAdd")->toolTip(), "Add this relay database.");
    EXPECT_EQ(d.findChild<QPushButton*>("cmdRemove")->toolTip(), "Remove the selected entry.");
    auto* text = d.findChild<QLineEdit*>("txtRelay");
    EXPECT_EQ(text->toolTip(), "Enter the relay database hostname.");
    QTest::keyClicks(text, " c.ex;ample ");
    EXPECT_EQ(text->text(), " c.example ");
    d.findChild<QPushButton*>("cmdAdd")->click();
    EXPECT_EQ(GetData("relaydb", bbs.KeyedList()), "a.example;b.example;c.example");
    d.findChild<QPushButton*>("cmdMoveUp")->click();
    EXPECT_EQ(GetData("relaydb", bbs.KeyedList()), "a.example;c.example;b.example");
    d.findChild<QListWidget*>("lstRelay")->setCurrentRow(0);
    d.findChild<QPushButton*>("cmdMoveUp")->click();
    d.findChild<QPushButton*>("cmdRemove")->click();
    EXPECT_EQ(d.Zones(), (QStringList{"c.example", "b.example"}));
    text->setText("   ");
    d.findChild<QPushButton*>("cmdAdd")->click();
    EXPECT_EQ(d.Zones().size(), 2);
}

TEST(RelayConfig, PastedSeparatorIsRefused) {
    UiBbs bbs;
    bbs.settings.RelayEnable = 1;
    frmRelayConfig d(bbs.ctx);
    d.findChild<QLineEdit*>("txtRelay")->setText("x.example;y.example");
    auto box = AnswerBox();
    d.findChild<QPushButton*>("cmdAdd")->click();
    EXPECT_TRUE(box->seen);
    EXPECT_TRUE(d.Zones().isEmpty());
}

TEST(RelayConfig, EnableIsSavedAtOnceAndGatesTheList) {
    UiBbs bbs;
    frmRelayConfig d(bbs.ctx);
    auto* enable = d.findChild<QCheckBox*>("RelayEnable");
    EXPECT_EQ(enable->toolTip(), "Enable or disable the use of relay database lookups.");
    EXPECT_FALSE(d.findChild<QLineEdit*>("txtRelay")->isEnabled());
    enable->click();
    EXPECT_EQ(bbs.settings.RelayEnable, 1);
    const Text file = ReadFileBytes(SettingsPath(bbs.MainDir()));
    ASSERT_EQ(file.size(), 250);
    EXPECT_EQ(file[220], 1);
    EXPECT_TRUE(d.findChild<QLineEdit*>("txtRelay")->isEnabled());
}
