#include "server/ui/ListDialogs.h"

#include "server/lists/ListEntry.h"
#include "server/store/KeyedList.h"
#include "server/ui/Buttons.h"
#include "server/ui/KeyFilter.h"
#include "server/ui/Latin1.h"
#include "server/ui/ListFrame.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

ListDialog::ListDialog(UiContext& ctx, const ListMember& member, QWidget* parent)
    : QDialog(parent), ctx_(ctx), member_(member) {
    setObjectName(member.listForm);
    setWindowTitle(QString::fromLatin1(member.title));
    // Every list dialog, TWIT.LST's too, keeps "OSPRDATA.DAT" only while a list holds entries.
    CreateFile(ctx.KeyedList(), false);

    ListDescription description;
    description.caption = [name = QString::fromLatin1(member.frameName)](int n) {
        return name + " (" + QString::number(n) + ")";
    };
    description.newEntry = [&member] { return member.newEntry; };
    description.limit = member.limit;
    description.line = [&ctx, &member](const Text& entry) { return member.line(ctx.bbs, EntryColumns(member, entry)); };
    description.load = [&ctx, &member] { return LoadEntries(ctx.bbs, member); };
    description.save = [&ctx, &member](const TextList& entries) { SaveEntries(ctx.bbs, member, entries); };
    description.edit = [&ctx, &member](QWidget* parent, int index) {
        ListEditDialog edit(ctx, member, index, parent);
        edit.exec();
    };
    frame_ = new ListFrame(std::move(description), this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame_);
    layout->addLayout(CloseRow(this));
    resize(560, 360);
}

void ListDialog::done(int result) {
    DeleteData(ctx_.KeyedList());
    QDialog::done(result);
}

bool CheckSeparators(QWidget* parent, const QString& title, const QString& field, const Text& text,
                     const char* refused) {
    QStringList found;
    for (const char* c = refused; *c; ++c)
        if (text.contains(*c)) found << QString("\"%1\"").arg(QChar::fromLatin1(*c));
    if (text.contains('\r') || text.contains('\n')) found << "a line break";
    if (found.isEmpty()) return true;
    QMessageBox::warning(parent, title,
                         QString("The %1 cannot contain %2, since the list uses it to separate its entries.\r\n"
                                 "Please remove it and try again.")
                             .arg(field, found.join(" or ")));
    return false;
}

namespace {

KeyRule RuleFor(const EditField& f) {
    switch (f.keys) {
    case FieldKeys::Refuse:
        return KeyRules::Refuse(f.refused);
    case FieldKeys::AliasName:
        return KeyRules::AliasName();
    case FieldKeys::Digits:
        return [](char c) -> char { return (c >= '0' && c <= '9') || c == 8 ? c : 0; };
    case FieldKeys::Any:
        break;
    }
    return {};
}

}   // namespace

ListEditDialog::ListEditDialog(UiContext& ctx, const ListMember& member, int index, QWidget* parent)
    : QDialog(parent), ctx_(ctx), member_(member), index_(index) {
    setObjectName(member.editForm);
    setWindowTitle(QString::fromLatin1(member.editTitle));
    entries_ = LoadEntries(ctx.bbs, member);
    const TextList columns =
        index >= 1 && index <= entries_.size() ? EntryColumns(member, entries_[index - 1]) : TextList();

    auto* frame = new QGroupBox(QString::fromLatin1(member.editFrameName) + QString::number(index) + " / " +
                                QString::number(entries_.size()));
    frame->setObjectName("fraEntry");
    auto* form = new QFormLayout(frame);
    for (const EditField& f : member.fields) {
        const Text value = columns.value(f.column);
        if (f.kind == FieldKind::Check) {
            auto* box = new QCheckBox(QString::fromLatin1(f.caption));
            box->setObjectName(f.name);
            box->setToolTip(QString::fromLatin1(f.toolTip));
            box->setChecked(ValLong(value) > 0);
            form->addRow(box);
            continue;
        }
        auto* edit = new QLineEdit(Q(f.casing == Casing::AsTyped ? value : Trim(value)));
        edit->setObjectName(f.name);
        edit->setToolTip(QString::fromLatin1(f.toolTip));
        if (KeyRule rule = RuleFor(f)) InstallKeyFilter(edit, rule);
        auto* label = new QLabel(QString::fromLatin1(f.caption));
        label->setObjectName(QString("lbl") + f.name);
        label->setBuddy(edit);
        form->addRow(label, edit);
    }

    auto* buttons = new QDialogButtonBox;
    auto* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("cmdOK");
    ok->setDefault(true);
    auto* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    cancel->setObjectName("cmdCancel");
    connect(ok, &QPushButton::clicked, this, &ListEditDialog::cmdOK_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(buttons);
    resize(460, sizeHint().height());
}

bool ListEditDialog::FieldsHoldNoSeparators() {
    for (const EditField& f : member_.fields) {
        if (f.kind != FieldKind::Text) continue;
        const Text text = T(findChild<QLineEdit*>(f.name)->text());
        QString field = QString::fromLatin1(f.caption);
        field.chop(field.endsWith(':') ? 1 : 0);
        if (!CheckSeparators(this, windowTitle(), field.toLower(), text, f.refused)) return false;
    }
    return true;
}

Text ListEditDialog::BuildEntry() const {
    TextList values;
    for (const EditField& f : member_.fields)
        values << (f.kind == FieldKind::Check ? Text(findChild<QCheckBox*>(f.name)->isChecked() ? "1" : "0")
                                              : T(findChild<QLineEdit*>(f.name)->text()));
    return BuildListEntry(member_, values);
}

void ListEditDialog::cmdOK_Click() {
    if (!FieldsHoldNoSeparators()) return;
    const Text entry = BuildEntry();
    if (member_.check == OkCheck::BlankSubject && Trim(entry).isEmpty()) {
        const auto answer = QMessageBox::question(
            this, "OSPRINE - Subject Filter",
            "A blank filter will delete this entry.\r\nAre you sure you want to delete this entry?",
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) return;
    }
    if (member_.check == OkCheck::PassThruUser && ValLong(EntryColumns(member_, entry).value(2)) < 1) {
        QMessageBox::warning(this, "OSPRINE Pass-Thru", "The user number cannot be less than one.");
        return;
    }
    if (index_ >= 1 && index_ <= entries_.size()) {
        // A blank subject filter is stored empty, which removes the entry.
        entries_[index_ - 1] = Trim(entry).isEmpty() ? Text() : entry;
        SaveEntries(ctx_.bbs, member_, entries_);
    }
    accept();
}

void ShowListDialog(UiContext& ctx, const QString& listForm, QWidget* parent) {
    if (const ListMember* member = FindListMember(listForm)) {
        ListDialog dialog(ctx, *member, parent);
        dialog.exec();
    }
}
