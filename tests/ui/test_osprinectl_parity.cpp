// osprinectl and the dialogs, given the same input, write the same files:
// the settings dialog and "config NAME=VALUE", each list editor and
// "list KEY add ROW". The program is the real one, run as a process.
#include "UiTestSupport.h"
#include "server/bbs/BbsConfig.h"
#include "server/store/KeyedList.h"
#include "server/ui/ListDialogs.h"
#include "server/ui/ListFrame.h"
#include "server/ui/ServerConfigDialog.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>

namespace {

// An installation osprinectl can load: SYSPATHS.CFG naming the directory.
void MakeLoadable(UiBbs& bbs) { ASSERT_TRUE(WriteFileAtomic(bbs.Path("SYSPATHS.CFG"), EncodeSysPaths(bbs.bbs.paths))); }

int Ctl(UiBbs& bbs, const QStringList& arguments) {
    QProcess p;
    // Built beside the test programs.
    p.start(QCoreApplication::applicationDirPath() + "/osprinectl", QStringList{"-d", bbs.MainDir()} + arguments);
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.readAllStandardError(), QByteArray());
    return p.exitCode();
}

}   // namespace

TEST(OsprinectlParity, SettingsAsTheDialogWritesThem) {
    struct Typed {
        const char* name;
        QString value;
    };
    const Typed typed[] = {{"Port", "2600"},           {"MaxConnections", "500"},
                           {"MaxLogSize", "4096"},     {"ClientHost", " mail.isp.example "},
                           {"ClientPort", "25.6"},     {"AuthUsername", "sysop"},
                           {"AuthPassword", "app pw"}, {"MaxMailSize", "100000000"},
                           {"AutorespondUser", "0"},   {"Pop3Port", "0"}};
    const std::pair<const char*, bool> checks[] = {
        {"SmtpClient", true}, {"ClientAuth", true}, {"AllowExpn", true}, {"VerifyUser", false}, {"SaveStats", true}};
    UiBbs dialogSide, ctlSide;
    MakeLoadable(ctlSide);
    // Both start from the same file, as the server writes it at its first start.
    ASSERT_TRUE(WriteSettingsFile(dialogSide.MainDir(), dialogSide.settings));
    ASSERT_TRUE(WriteSettingsFile(ctlSide.MainDir(), ctlSide.settings));

    frmServerConfig d(dialogSide.ctx);
    QStringList arguments{"config"};
    for (const Typed& t : typed) {
        d.findChild<QLineEdit*>(t.name)->setText(t.value);
        arguments << QString(t.name) + "=" + t.value;
    }
    for (const auto& [name, on] : checks) {
        d.findChild<QCheckBox*>(name)->setChecked(on);
        arguments << QString(name) + "=" + (on ? "1" : "0");
    }
    d.findChild<QPushButton*>("cmdOK")->click();
    ASSERT_EQ(Ctl(ctlSide, arguments), 0);
    EXPECT_EQ(ReadFileBytes(SettingsPath(ctlSide.MainDir())).toHex(),
              ReadFileBytes(SettingsPath(dialogSide.MainDir())).toHex());
}

TEST(OsprinectlParity, EveryListAsItsEditorStoresIt) {
    UiBbs dialogSide, ctlSide;
    MakeLoadable(ctlSide);
    for (const ListMember& member : ListMembers()) {
        SCOPED_TRACE(member.listForm);
        // A value for every field, and the row osprinectl is given for them.
        TextList columns(member.columns);
        QList<QString> values;
        for (const EditField& f : member.fields) {
            const Text value = f.kind == FieldKind::Check    ? Text("1")
                               : f.keys == FieldKeys::Digits ? Text("7")
                                                             : "Value" + Text::number(f.column);
            columns[f.column] = value;
            values << QString::fromLatin1(value);
        }
        ListDialog d(dialogSide.ctx, member);
        d.findChild<QPushButton*>("cmdInsert")->click();
        WhenModal([&](QWidget* edit) {
            for (qsizetype i = 0; i < member.fields.size(); ++i) {
                const EditField& f = member.fields[i];
                if (f.kind == FieldKind::Check)
                    edit->findChild<QCheckBox*>(f.name)->setChecked(true);
                else
                    edit->findChild<QLineEdit*>(f.name)->setText(values[i]);
            }
            edit->findChild<QPushButton*>("cmdOK")->click();
        });
        d.findChild<QPushButton*>("cmdEdit")->click();
        d.accept();
        const Text name = member.key.isEmpty() ? Text("twit") : member.key;
        ASSERT_EQ(Ctl(ctlSide, {"list", QString::fromLatin1(name), "add", QString::fromLatin1(columns.join(','))}), 0);
    }
    EXPECT_EQ(ReadFileBytes(ctlSide.KeyedList()), ReadFileBytes(dialogSide.KeyedList()));
    EXPECT_EQ(ReadFileBytes(TwitListPath(ctlSide.bbs)), ReadFileBytes(TwitListPath(dialogSide.bbs)));
    EXPECT_FALSE(ReadFileBytes(dialogSide.KeyedList()).isEmpty());
}
