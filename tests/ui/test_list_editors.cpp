// The list-editor family: list lines, limits, buttons, key filters and the
// stored values of every member.
#include "UiTestSupport.h"
#include "server/bbs/UserRecord.h"
#include "server/store/KeyedList.h"
#include "server/ui/ListDialogs.h"
#include "server/ui/ListFrame.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace {

const ListMember& Member(const char* form) { return *FindListMember(form); }

QStringList Lines(ListDialog& d) {
    QStringList lines;
    for (int i = 0; i < d.Frame()->List()->count(); ++i) lines << d.Frame()->List()->item(i)->text();
    return lines;
}

QPushButton* Button(QWidget& w, const char* name) { return w.findChild<QPushButton*>(name); }

// Opens the edit dialog of the selected entry with the Edit button, lets
// `fill` work on it and presses OK.
void EditSelected(ListDialog& d, std::function<void(QWidget*)> fill) {
    WhenModal([fill](QWidget* edit) {
        fill(edit);
        edit->findChild<QPushButton*>("cmdOK")->click();
        if (edit->isVisible()) edit->findChild<QPushButton*>("cmdCancel")->click();
    });
    Button(d, "cmdEdit")->click();
}

void SetText(QWidget* w, const char* name, const QString& text) { w->findChild<QLineEdit*>(name)->setText(text); }

}   // namespace

TEST(ListEditors, EveryMemberHasItsTitlesAndFrameCaption) {
    struct Expect {
        const char* form;
        const char* edit;
        const char* title;
        const char* frame;
    };
    const Expect expected[] = {
        {"frmDomains", "frmDomainsEdit", "OSPRINE - Secondary Domains", "Domains (0)"},
        {"frmAliases", "frmAliasesEdit", "OSPRINE - User Aliases", "Aliases (0)"},
        {"frmMailForwarding", "frmMailForwardingEdit", "OSPRINE - Mail Forwarding", "Forwarding (0)"},
        {"frmSubjectFilter", "frmSubjectFilterEdit", "OSPRINE - Subject Filter", "Filters (0)"},
        {"frmHeaderFilter", "frmHeaderFilterEdit", "OSPRINE - Header Filter", "Filters (0)"},
        {"frmPassThru", "frmPassThruEdit", "OSPRINE - Mail Pass-Thru", "Addresses (0)"},
        {"frmFilterExempt", "frmFilterExemptEdit", "Filter Exemptions", "Exemptions (0)"},
        {"zarvinettwit", "zarvinettwitedit", "ZARV - TWIT.LST Configuration", "TWIT.LST Entries (0)"},
    };
    UiBbs bbs;
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.form);
        ListDialog d(bbs.ctx, Member(e.form));
        EXPECT_EQ(d.objectName(), e.form);
        EXPECT_EQ(d.windowTitle(), e.title);
        EXPECT_EQ(d.Frame()->title(), e.frame);
        EXPECT_EQ(Member(e.form).editForm, QString(e.edit));
        EXPECT_FALSE(Button(d, "cmdEdit")->isEnabled());
        EXPECT_FALSE(Button(d, "cmdDelete")->isEnabled());
        EXPECT_TRUE(Button(d, "cmdInsert")->isEnabled());
    }
    EXPECT_STREQ(Member("frmPassThru").editTitle, "Mail Pass-Thru");
}

TEST(ListEditors, ListLinesOfEveryMember) {
    UiBbs bbs;
    // User 1 of the BBS is "Sysop"; the pass-through and exemption lines look users up.
    UserRecord sysop;
    sysop.SetHandle("Sysop");
    sysop.SetSecurityLevel(255);
    ASSERT_TRUE(WriteFileAtomic(bbs.Path("USERFILE.DAT"), sysop.Encode()));
    const QString file = bbs.KeyedList();
    PutData("aliases", "sales,12", file);
    PutData("domains", "Mail.Example.ORG", file);
    PutData("mailforwarding", "Bob,bob@elsewhere.example", file);
    PutData("subjectfilter", "Buy now, cheap", file);
    PutData("headerfilter", "X-Mailer, BulkSender", file);
    PutData("passthru", "MailerDaemon,1,3;postmaster,0,4", file);
    PutData("filterexemptions", "0,1,,,,,,,,,;1,,1,,,,,,,,;sysop,,,1,,,,,,,;nobody,,,,,,,,,,", file);
    ASSERT_TRUE(WriteFileAtomic(bbs.Path("TWIT.LST"), "Spammer One\r\n\r\nPest\r\n"));

    auto lines = [&](const char* form) {
        ListDialog d(bbs.ctx, Member(form));
        return Lines(d);
    };
    EXPECT_EQ(lines("frmAliases"), QStringList{"1: 12" + QString(18, ' ') + " sales"});
    EXPECT_EQ(lines("frmDomains"), QStringList{"1: mail.example.org"});
    EXPECT_EQ(lines("frmMailForwarding"), QStringList{"1: bob" + QString(17, ' ') + " bob@elsewhere.example"});
    EXPECT_EQ(lines("frmSubjectFilter"), QStringList{"1: Buy now, cheap"});
    EXPECT_EQ(lines("frmHeaderFilter"), QStringList{"1: X-Mailer:       BulkSender"});
    EXPECT_EQ(lines("frmPassThru"),
              (QStringList{"1: mailerdaemon" + QString(13, ' ') + "*", "2: postmaster" + QString(15, ' ')}));
    EXPECT_EQ(lines("frmFilterExempt"),
              (QStringList{"1: 0      ***INVALID USER***", "2: 1      Sysop", "3: 1      sysop", "4: 0      nobody"}));
    EXPECT_EQ(lines("zarvinettwit"), (QStringList{"1: Spammer One", "2: Pest"}));
}

TEST(ListEditors, IndexIsRightAlignedToTheCount) {
    EXPECT_EQ(ListFrame::NumberedLine(3, 12, "x"), " 3: x");
    EXPECT_EQ(ListFrame::NumberedLine(12, 12, "x"), "12: x");
    EXPECT_EQ(ListFrame::NumberedLine(7, 100, "x"), "  7: x");
}

TEST(ListEditors, TheHundredthDomainCanBeAddedTheHundredAndFirstCannot) {
    UiBbs bbs;
    TextList domains;
    for (int i = 1; i <= 99; ++i) domains << "d" + QByteArray::number(i) + ".example";
    PutData("domains", domains.join(';'), bbs.KeyedList());
    ListDialog d(bbs.ctx, Member("frmDomains"));
    EXPECT_TRUE(Button(d, "cmdInsert")->isEnabled());
    Button(d, "cmdInsert")->click();
    EXPECT_EQ(d.Frame()->Count(), 100);
    EXPECT_EQ(d.Frame()->title(), "Domains (100)");
    EXPECT_EQ(d.Frame()->Selected(), 99);
    EXPECT_EQ(d.Frame()->List()->item(99)->text(), "100: new.domain");
    EXPECT_FALSE(Button(d, "cmdInsert")->isEnabled());
    d.Frame()->cmdInsert_Click();
    EXPECT_EQ(d.Frame()->Count(), 100);
    EXPECT_TRUE(GetData("domains", bbs.KeyedList()).endsWith(";d99.example;new.domain"));
}

TEST(ListEditors, TwitListStopsAtFifty) {
    UiBbs bbs;
    Text file;
    for (int i = 0; i < 49; ++i) file += "twit" + QByteArray::number(i) + "\r\n";
    WriteFileAtomic(bbs.Path("TWIT.LST"), file);
    ListDialog d(bbs.ctx, Member("zarvinettwit"));
    Button(d, "cmdInsert")->click();
    EXPECT_FALSE(Button(d, "cmdInsert")->isEnabled());
    EXPECT_EQ(ReadFileBytes(bbs.Path("TWIT.LST")), file + "NEW TWIT\r\n");
}

TEST(ListEditors, MoveUpAndDownStopAtTheEnds) {
    UiBbs bbs;
    PutData("subjectfilter", "a;b;c", bbs.KeyedList());
    ListDialog d(bbs.ctx, Member("frmSubjectFilter"));
    EXPECT_TRUE(Button(d, "cmdMoveUp")->isEnabled());
    d.Frame()->List()->setCurrentRow(0);
    Button(d, "cmdMoveUp")->click();
    EXPECT_EQ(GetData("subjectfilter", bbs.KeyedList()), "a;b;c");
    Button(d, "cmdMoveDown")->click();
    EXPECT_EQ(GetData("subjectfilter", bbs.KeyedList()), "b;a;c");
    EXPECT_EQ(d.Frame()->Selected(), 1);
    d.Frame()->List()->setCurrentRow(2);
    Button(d, "cmdMoveDown")->click();
    EXPECT_EQ(GetData("subjectfilter", bbs.KeyedList()), "b;a;c");
    Button(d, "cmdMoveUp")->click();
    EXPECT_EQ(GetData("subjectfilter", bbs.KeyedList()), "b;c;a");
    EXPECT_EQ(d.Frame()->Selected(), 1);
}

TEST(ListEditors, DeletingTheOnlyEntryEmptiesTheListAndClosingRemovesTheFile) {
    UiBbs bbs;
    PutData("domains", "only.example", bbs.KeyedList());
    {
        ListDialog d(bbs.ctx, Member("frmDomains"));
        Button(d, "cmdDelete")->click();
        EXPECT_EQ(d.Frame()->Count(), 0);
        EXPECT_EQ(d.Frame()->title(), "Domains (0)");
        for (const char* b : {"cmdEdit", "cmdDelete", "cmdMoveUp", "cmdMoveDown"})
            EXPECT_FALSE(Button(d, b)->isEnabled()) << b;
        EXPECT_EQ(ReadFileBytes(bbs.KeyedList()), "domains=\r\n");
        Button(d, "cmdClose")->click();
    }
    EXPECT_FALSE(FileExists(bbs.KeyedList()));
}

TEST(ListEditors, ClosingKeepsTheFileWhileAnotherListHoldsEntries) {
    UiBbs bbs;
    PutData("relaydb", "zone.example", bbs.KeyedList());
    ListDialog d(bbs.ctx, Member("frmAliases"));
    EXPECT_TRUE(FileExists(bbs.KeyedList()));
    d.reject();
    EXPECT_TRUE(FileExists(bbs.KeyedList()));
}

TEST(ListEditors, OpeningCreatesTheKeyedListFile) {
    UiBbs bbs;
    ListDialog d(bbs.ctx, Member("frmAliases"));
    EXPECT_TRUE(FileExists(bbs.KeyedList()));
    d.reject();
    EXPECT_FALSE(FileExists(bbs.KeyedList()));
}

TEST(ListEditors, AliasEditedThroughTheDialogIsStoredByteForByte) {
    UiBbs bbs;
    ListDialog d(bbs.ctx, Member("frmAliases"));
    Button(d, "cmdInsert")->click();
    QString frame;
    EditSelected(d, [&](QWidget* edit) {
        EXPECT_EQ(edit->objectName(), "frmAliasesEdit");
        frame = edit->findChild<QGroupBox*>()->title();
        EXPECT_EQ(edit->findChild<QLineEdit*>("alias")->text(), "alias");
        EXPECT_EQ(edit->findChild<QLineEdit*>("username")->text(), "0");
        EXPECT_EQ(edit->findChild<QLineEdit*>("alias")->toolTip(), "The alias for the user.");
        EXPECT_EQ(edit->findChild<QLineEdit*>("username")->toolTip(), "The user account number or handle.");
        edit->findChild<QLineEdit*>("alias")->clear();
        QTest::keyClicks(edit->findChild<QLineEdit*>("alias"), "Sales Team;,");
        edit->findChild<QLineEdit*>("username")->clear();
        QTest::keyClicks(edit->findChild<QLineEdit*>("username"), " 12,; ");
    });
    EXPECT_EQ(frame, "Alias 1 / 1");
    EXPECT_EQ(ReadFileBytes(bbs.KeyedList()), "aliases=sales.team,12\r\n");
    EXPECT_EQ(Lines(d), QStringList{"1: 12" + QString(18, ' ') + " sales.team"});
}

TEST(ListEditors, KeyFiltersOfTheEditFields) {
    UiBbs bbs;
    PutData("headerfilter", "X-Filter, *** NEW FILTER ***", bbs.KeyedList());
    PutData("passthru", "username,0,1", bbs.KeyedList());
    PutData("domains", "a.example", bbs.KeyedList());
    struct Case {
        const char* form;
        const char* field;
        const char* typed;
        const char* kept;
    };
    const Case cases[] = {
        {"frmHeaderFilter", "Header", "X-A:b;c,d", "X-Abcd"},
        {"frmHeaderFilter", "Filter", "p: q;r,s", "p: qrs"},
        {"frmPassThru", "userno", "1a2 3", "123"},
        {"frmPassThru", "username", "a b;c,d", "a bcd"},
        {"frmDomains", "domain", "x;y,z", "xy,z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        ListEditDialog edit(bbs.ctx, Member(c.form), 1);
        auto* field = edit.findChild<QLineEdit*>(c.field);
        field->clear();
        QTest::keyClicks(field, c.typed);
        EXPECT_EQ(field->text(), c.kept);
    }
}

TEST(ListEditors, PastedSeparatorsAreRefusedWithAMessage) {
    UiBbs bbs;
    PutData("aliases", "sales,12", bbs.KeyedList());
    ListEditDialog edit(bbs.ctx, Member("frmAliases"), 1);
    edit.findChild<QLineEdit*>("username")->setText("12;13");   // as pasted: the key filter never saw it
    auto box = AnswerBox();
    edit.cmdOK_Click();
    ASSERT_TRUE(box->seen);
    EXPECT_TRUE(box->text.contains("\";\"")) << box->text.toStdString();
    EXPECT_EQ(GetData("aliases", bbs.KeyedList()), "sales,12");
    EXPECT_NE(edit.result(), QDialog::Accepted);

    const ListMember& twit = Member("zarvinettwit");
    WriteFileAtomic(bbs.Path("TWIT.LST"), "pest\r\n");
    ListEditDialog twitEdit(bbs.ctx, twit, 1);
    twitEdit.findChild<QLineEdit*>("entry")->setText("one\ntwo");
    auto lineBreak = AnswerBox();
    twitEdit.cmdOK_Click();
    EXPECT_TRUE(lineBreak->text.contains("line break"));
    EXPECT_EQ(ReadFileBytes(bbs.Path("TWIT.LST")), "pest\r\n");
}

TEST(ListEditors, BlankSubjectFilterAsksBeforeDeleting) {
    UiBbs bbs;
    PutData("subjectfilter", "keep;spam", bbs.KeyedList());
    {
        ListEditDialog edit(bbs.ctx, Member("frmSubjectFilter"), 2);
        edit.findChild<QLineEdit*>("filter")->setText("   ");
        auto no = AnswerBox(QMessageBox::No);
        edit.cmdOK_Click();
        EXPECT_EQ(no->title, "OSPRINE - Subject Filter");
        EXPECT_EQ(no->text, "A blank filter will delete this entry.\r\nAre you sure you want to delete this entry?");
        EXPECT_EQ(GetData("subjectfilter", bbs.KeyedList()), "keep;spam");
        auto yes = AnswerBox(QMessageBox::Yes);
        edit.cmdOK_Click();
        EXPECT_TRUE(yes->seen);
    }
    EXPECT_EQ(GetData("subjectfilter", bbs.KeyedList()), "keep");
}

TEST(ListEditors, SubjectFilterKeepsThePhraseAsTyped) {
    UiBbs bbs;
    PutData("subjectfilter", "x", bbs.KeyedList());
    ListEditDialog edit(bbs.ctx, Member("frmSubjectFilter"), 1);
    edit.findChild<QLineEdit*>("filter")->setText(" Hot, Deals ");
    edit.cmdOK_Click();
    EXPECT_EQ(GetData("subjectfilter", bbs.KeyedList()), " Hot, Deals ");
}

TEST(ListEditors, PassThruRefusesUserNumbersBelowOne) {
    UiBbs bbs;
    PutData("passthru", "username,0,1", bbs.KeyedList());
    ListEditDialog edit(bbs.ctx, Member("frmPassThru"), 1);
    EXPECT_EQ(edit.findChild<QCheckBox*>("handlesuip")->text(), "Add Username to HANDLES.UIP");
    edit.findChild<QLineEdit*>("username")->setText("MailBot");
    edit.findChild<QCheckBox*>("handlesuip")->setChecked(true);
    edit.findChild<QLineEdit*>("userno")->setText("0");
    auto box = AnswerBox();
    edit.cmdOK_Click();
    EXPECT_EQ(box->title, "OSPRINE Pass-Thru");
    EXPECT_EQ(box->text, "The user number cannot be less than one.");
    EXPECT_EQ(GetData("passthru", bbs.KeyedList()), "username,0,1");
    edit.findChild<QLineEdit*>("userno")->setText("7");
    edit.cmdOK_Click();
    EXPECT_EQ(GetData("passthru", bbs.KeyedList()), "mailbot,1,7");
}

TEST(ListEditors, ExemptionFlagsAndHeaderFilterColumns) {
    UiBbs bbs;
    PutData("filterexemptions", "0,,,,,,,,,,", bbs.KeyedList());
    PutData("headerfilter", "X-Filter, *** NEW FILTER ***", bbs.KeyedList());
    {
        ListEditDialog edit(bbs.ctx, Member("frmFilterExempt"), 1);
        EXPECT_EQ(edit.findChild<QCheckBox*>("ExHeaderFilter")->toolTip(),
                  "Do not perform header filtering for emails addressed to this user.");
        edit.findChild<QLineEdit*>("username")->setText(" Sysop ");
        edit.findChild<QCheckBox*>("ExSpamAssassin")->setChecked(true);
        edit.findChild<QCheckBox*>("ExSubjectFilter")->setChecked(true);
        edit.cmdOK_Click();
    }
    EXPECT_EQ(GetData("filterexemptions", bbs.KeyedList()), "sysop,1,0,1,,,,,,,");
    {
        ListEditDialog edit(bbs.ctx, Member("frmHeaderFilter"), 1);
        EXPECT_EQ(edit.findChild<QLineEdit*>("Filter")->text(), "*** NEW FILTER ***");
        edit.findChild<QLineEdit*>("Header")->setText(" X-Spam-Flag ");
        edit.findChild<QLineEdit*>("Filter")->setText(" YES ");
        edit.cmdOK_Click();
    }
    EXPECT_EQ(GetData("headerfilter", bbs.KeyedList()), "X-Spam-Flag,YES");
}

TEST(ListEditors, DoubleClickOpensTheEditorAndCancelKeepsTheEntry) {
    UiBbs bbs;
    PutData("mailforwarding", "5,five@example.org", bbs.KeyedList());
    ListDialog d(bbs.ctx, Member("frmMailForwarding"));
    QString seen;
    WhenModal([&](QWidget* edit) {
        seen = edit->objectName();
        SetText(edit, "forwardaddress", "changed@example.org");
        edit->findChild<QPushButton*>("cmdCancel")->click();
    });
    emit d.Frame()->List()->itemDoubleClicked(d.Frame()->List()->item(0));
    EXPECT_EQ(seen, "frmMailForwardingEdit");
    EXPECT_EQ(GetData("mailforwarding", bbs.KeyedList()), "5,five@example.org");
}

TEST(ListEditors, EveryMemberInsertsItsNewEntryAndStopsAtItsLimit) {
    struct Expect {
        const char* form;
        Text stored;   // the new entry as the list stores it
        int limit;
        const char* editFrame;
    };
    const Expect expected[] = {
        {"frmDomains", "domains=new.domain\r\n", 100, "Domain 1 / 1"},
        {"frmAliases", "aliases=alias,0\r\n", 500, "Alias 1 / 1"},
        {"frmMailForwarding", "mailforwarding=0,user@address*netnumber\r\n", 500, "Entry 1 / 1"},
        {"frmSubjectFilter", "subjectfilter=*** NEW FILTER ***\r\n", 100, "Filter 1 / 1"},
        {"frmHeaderFilter", "headerfilter=X-Filter, *** NEW FILTER ***\r\n", 100, "Filter 1 / 1"},
        {"frmPassThru", "passthru=username,0,1\r\n", 500, "Address 1 / 1"},
        {"frmFilterExempt", "filterexemptions=0,,,,,,,,,,\r\n", 500, "Exemption Entry 1 / 1"},
        {"zarvinettwit", "NEW TWIT\r\n", 50, "Entry 1 / 1"},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.form);
        UiBbs bbs;
        const ListMember& member = Member(e.form);
        const bool twit = member.key.isEmpty();
        {
            ListDialog d(bbs.ctx, member);
            Button(d, "cmdInsert")->click();
            EXPECT_EQ(ReadFileBytes(twit ? bbs.Path("TWIT.LST") : bbs.KeyedList()), e.stored);
            ListEditDialog edit(bbs.ctx, member, 1);
            EXPECT_EQ(edit.windowTitle(), QString::fromLatin1(member.editTitle));
            EXPECT_EQ(edit.objectName(), member.editForm);
            EXPECT_EQ(edit.findChild<QGroupBox*>("fraEntry")->title(), e.editFrame);
        }
        // One below the limit Insert is offered; at the limit it is not.
        TextList entries;
        for (int i = 1; i < e.limit; ++i) entries << "e" + QByteArray::number(i);
        SaveEntries(bbs.bbs, member, entries);
        ListDialog d(bbs.ctx, member);
        EXPECT_TRUE(Button(d, "cmdInsert")->isEnabled());
        Button(d, "cmdInsert")->click();
        EXPECT_EQ(d.Frame()->Count(), e.limit);
        EXPECT_FALSE(Button(d, "cmdInsert")->isEnabled());
        d.Frame()->cmdInsert_Click();
        EXPECT_EQ(LoadEntries(bbs.bbs, member).size(), e.limit);
    }
}

TEST(ListEditors, EditFieldsCarryTheirCaptionsAndToolTips) {
    struct Tip {
        const char* form;
        const char* field;
        const char* caption;   // checkboxes only
        const char* tip;
    };
    const Tip tips[] = {
        {"frmAliases", "alias", nullptr, "The alias for the user."},
        {"frmAliases", "username", nullptr, "The user account number or handle."},
        {"frmMailForwarding", "forwardaddress", nullptr,
         "The address to forward mail to or in the format of username@address*network number."},
        {"frmSubjectFilter", "filter", nullptr,
         "If this word or phrase is found in a subject line, the message will be blocked. Case sensitive."},
        {"frmHeaderFilter", "Header", nullptr, "Enter the name of the message header."},
        {"frmHeaderFilter", "Filter", nullptr,
         "If this word or phrase is found in the header value, the message will be blocked. Case insensitive."},
        {"frmPassThru", "username", nullptr, "The username to allow to pass through the filters."},
        {"frmPassThru", "handlesuip", "Add Username to HANDLES.UIP",
         "If enabled, this username will be added to HANDLES.UIP when it is generated."},
        {"frmFilterExempt", "ExSpamAssassin", "SpamAssassin",
         "Do not perform SpamAssassin filtering for emails addressed to this user."},
        {"frmFilterExempt", "ExHeaderFilter", "Header Filter",
         "Do not perform header filtering for emails addressed to this user."},
        {"frmFilterExempt", "ExSubjectFilter", "Subject Filter",
         "Do not perform subject filtering for emails addressed to this user."},
    };
    UiBbs bbs;
    for (const Tip& t : tips) {
        SCOPED_TRACE(t.field);
        const ListMember& member = Member(t.form);
        SaveEntries(bbs.bbs, member, {member.newEntry});
        ListEditDialog edit(bbs.ctx, member, 1);
        if (t.caption) {
            auto* box = edit.findChild<QCheckBox*>(t.field);
            ASSERT_TRUE(box);
            EXPECT_EQ(box->text(), t.caption);
            EXPECT_EQ(box->toolTip(), t.tip);
        } else {
            ASSERT_TRUE(edit.findChild<QLineEdit*>(t.field));
            EXPECT_EQ(edit.findChild<QLineEdit*>(t.field)->toolTip(), t.tip);
        }
    }
    // The fields follow the entry's columns.
    const struct {
        const char* form;
        QStringList fields;
    } order[] = {
        {"frmDomains", {"domain"}},
        {"frmAliases", {"alias", "username"}},
        {"frmMailForwarding", {"username", "forwardaddress"}},
        {"frmSubjectFilter", {"filter"}},
        {"frmHeaderFilter", {"Header", "Filter"}},
        {"frmPassThru", {"username", "handlesuip", "userno"}},
        {"frmFilterExempt", {"username", "ExSpamAssassin", "ExHeaderFilter", "ExSubjectFilter"}},
    };
    for (const auto& o : order) {
        QStringList names;
        for (const EditField& f : Member(o.form).fields) names << f.name;
        EXPECT_EQ(names, o.fields) << o.form;
    }
}

TEST(ListEditors, TheTwitListDialogAlsoTidiesTheKeyedListFile) {
    UiBbs bbs;
    {
        ListDialog d(bbs.ctx, Member("zarvinettwit"));
        EXPECT_TRUE(FileExists(bbs.KeyedList()));
        Button(d, "cmdInsert")->click();
        Button(d, "cmdClose")->click();
    }
    EXPECT_FALSE(FileExists(bbs.KeyedList()));
    EXPECT_EQ(ReadFileBytes(bbs.Path("TWIT.LST")), "NEW TWIT\r\n");
    EXPECT_FALSE(FileExists(bbs.Path("TWIT.LST.TMP")));
}
