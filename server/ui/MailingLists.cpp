#include "server/ui/MailingLists.h"
#include "server/ui/Buttons.h"

#include "server/lists/LineFiles.h"
#include "server/store/Files.h"
#include "server/ui/KeyFilter.h"
#include "server/ui/Latin1.h"
#include "server/ui/ListDialogs.h"
#include "server/ui/ListFrame.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

TextList NonBlank(const TextList& lines) {
    TextList kept;
    for (const Text& l : lines)
        if (!Trim(l).isEmpty()) kept.append(l);
    return kept;
}

}   // namespace

zarvinetmaillist::zarvinetmaillist(const QString& spoolDir, QWidget* parent) : QDialog(parent) {
    setObjectName("zarvinetmaillist");
    setWindowTitle("ZARV - Mailing List Editor");
    const QString file = ListservPath(spoolDir);
    if (!FileExists(file)) WriteLines(file, {});

    ListDescription description;
    description.caption = [](int) { return QString("Mailing List Entries"); };
    description.newEntry = [] { return Text("NEWLIST"); };
    description.limit = kMaxMailingLists;
    description.line = [](const Text& line) { return line; };
    description.load = [file] { return NonBlank(ReadLines(file)); };
    description.save = [file](const TextList& lines) { WriteLines(file, NonBlank(lines)); };
    description.edit = [file](QWidget* parent, int index) {
        zarvinetmaillistlist list(file, index, parent);
        list.exec();
    };
    frame_ = new ListFrame(std::move(description));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame_);
    layout->addLayout(CloseRow(this));
    resize(600, 360);
}

zarvinetmaillistlist::zarvinetmaillistlist(const QString& file, int index, QWidget* parent)
    : QDialog(parent), file_(file), index_(index) {
    setObjectName("zarvinetmaillistlist");
    setWindowTitle("ZARV - Mailing List Editor");
    lines_ = NonBlank(ReadLines(file));
    const MailingList list = index >= 1 && index <= lines_.size() ? ParseMailingList(lines_[index - 1]) : MailingList();
    subscribers_ = list.subscribers;

    ListName_ = new QLineEdit(Q(list.name));
    ListName_->setObjectName("ListName");
    ListName_->setToolTip("The name of the mailing list. For read-only lists, end the name with \"-R\".");
    InstallKeyFilter(ListName_, KeyRules::UpperRefusing(""));
    ListOwner_ = new QLineEdit(Q(list.owner));
    ListOwner_->setObjectName("ListOwner");
    ListOwner_->setToolTip("The email address of the owner of the list.");
    auto* form = new QFormLayout;
    form->addRow("List Name:", ListName_);
    form->addRow("List Owner:", ListOwner_);

    ListDescription description;
    description.caption = [](int) { return QString("Subscribers"); };
    description.newEntry = [] { return Text("user@address"); };
    description.limit = kMaxSubscribers;
    description.line = [](const Text& address) { return address; };
    description.load = [this] { return subscribers_; };
    description.save = [this](const TextList& entries) { subscribers_ = NonBlank(entries); };
    description.edit = [this](QWidget* parent, int i) {
        zarvinetmaillistedit edit(subscribers_, i, parent);
        edit.exec();
    };
    frame_ = new ListFrame(std::move(description));
    frame_->setObjectName("fraSubscribers");

    auto* save = Button("cmdSave", "Save");
    save->setDefault(true);
    auto* cancel = Button("cmdCancel", "Cancel");
    connect(save, &QPushButton::clicked, this, &zarvinetmaillistlist::cmdSave_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(frame_);
    layout->addLayout(buttons);
    resize(520, 400);
}

void zarvinetmaillistlist::cmdSave_Click() {
    // Without a name the owner's address would be read as the list's name.
    if (Trim(T(ListName_->text())).isEmpty()) {
        QMessageBox::warning(this, windowTitle(), "The list name cannot be empty.");
        return;
    }
    // Words are separated by spaces; a name may have them (they become "_"),
    // an owner may not.
    for (QLineEdit* field : {ListName_, ListOwner_})
        if (!CheckSeparators(this, windowTitle(), field == ListName_ ? "list name" : "owner address",
                             Trim(T(field->text())), field == ListOwner_ ? " " : ""))
            return;
    MailingList list;
    list.name = T(ListName_->text());
    list.owner = T(ListOwner_->text());
    list.subscribers = subscribers_;
    if (index_ >= 1 && index_ <= lines_.size()) {
        lines_[index_ - 1] = FormatMailingList(list);
        WriteLines(file_, lines_);
    }
    accept();
}

zarvinetmaillistedit::zarvinetmaillistedit(TextList& subscribers, int index, QWidget* parent)
    : QDialog(parent), subscribers_(subscribers), index_(index) {
    setObjectName("zarvinetmaillistedit");
    setWindowTitle("ZARV - Mailing List Editor");
    auto* frame = new QGroupBox("Subscriber " + QString::number(index) + " / " + QString::number(subscribers.size()));
    frame->setObjectName("fraSubscriber");
    Address_ = new QLineEdit(Q(subscribers.value(index - 1)));
    Address_->setObjectName("Subscriber");
    InstallKeyFilter(Address_, KeyRules::Refuse(" "));
    auto* form = new QFormLayout(frame);
    form->addRow("Address:", Address_);
    auto* buttons = OkCancelButtons(this, &zarvinetmaillistedit::cmdOK_Click);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(buttons);
}

void zarvinetmaillistedit::cmdOK_Click() {
    const Text address = Trim(T(Address_->text()));
    if (!CheckSeparators(this, windowTitle(), "address", address, " ")) return;
    if (index_ >= 1 && index_ <= subscribers_.size()) subscribers_[index_ - 1] = address;
    accept();
}

void ShowMailingListEditor(UiContext& ctx, QWidget* parent) {
    const QString spool = MailingListSpoolDir(ctx.bbs);
    if (spool.isEmpty()) {
        QMessageBox::critical(parent, "ZARVEL - Error",
                              "The spool directoy has not been configured or does not exist.");
        return;
    }
    zarvinetmaillist editor(spool, parent);
    editor.exec();
}
