#include "server/ui/NetworkDialogs.h"
#include "server/ui/Buttons.h"

#include "server/lists/LineFiles.h"
#include "server/store/Files.h"
#include "server/ui/FolderBrowse.h"
#include "server/ui/KeyFilter.h"
#include "server/ui/Latin1.h"
#include "server/ui/ListDialogs.h"
#include "server/ui/ListFrame.h"

#include <QCheckBox>
#include <QComboBox>
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

constexpr const char* kNetTitle = "ZARV - Network Configuration";

QLineEdit* NamedEdit(const char* name, const char* tip = "") {
    auto* e = new QLineEdit;
    e->setObjectName(name);
    e->setToolTip(QString::fromLatin1(tip));
    return e;
}

// A directory field with its browse button beside it.
QWidget* WithBrowse(QWidget* parent, QLineEdit* field, const char* buttonName) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field, 1);
    auto* browse = Button(buttonName, "...");
    browse->setFixedWidth(32);
    QObject::connect(browse, &QPushButton::clicked, parent, [parent, field] { BrowseInto(parent, field); });
    layout->addWidget(browse);
    InstallKeyFilter(field, KeyRules::Directory());
    return row;
}

QLabel* Caption(const char* text, QWidget* buddy) {
    auto* label = new QLabel(QString::fromLatin1(text));
    label->setObjectName("lbl" + buddy->objectName());
    label->setBuddy(buddy);
    return label;
}

}   // namespace

zarvnetinet::zarvnetinet(UiContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    setObjectName("zarvnetinet");
    setWindowTitle("ZARV - Network Configuration - Internet");

    SystemId_ = NamedEdit("SystemId", "Your full Internet address.");
    NetDir_ = NamedEdit("NetDir", "The directory to be used for storing incoming and outgoing data.");
    Pss_ = new QComboBox;
    Pss_->setObjectName("Pss");
    Pss_->setToolTip("The maximum size of UUCP packets to be received. Recommended = 2048");
    Pss_->addItems({"64", "128", "256", "512", "1024", "2048"});
    AllowRefeed_ = new QCheckBox("Allow Newsgroup Refeed");
    AllowRefeed_->setObjectName("AllowRefeed");
    StripHdrs_ = new QCheckBox("Strip RFC822 Headers");
    StripHdrs_->setObjectName("StripHdrs");
    Suffix_ = NamedEdit("Suffix",
                        "This should always be left blank unless you are specifically instructed to enter something by "
                        "your UUCP provider.");

    auto* pssRow = new QWidget;
    auto* pssLayout = new QHBoxLayout(pssRow);
    pssLayout->setContentsMargins(0, 0, 0, 0);
    pssLayout->addWidget(Pss_);
    pssLayout->addWidget(new QLabel("bytes"));
    pssLayout->addStretch();

    auto* frame = new QGroupBox("Internet");
    frame->setObjectName("fraInternet");
    auto* form = new QFormLayout(frame);
    form->addRow(Caption("System Name:", SystemId_), SystemId_);
    form->addRow(Caption("Spool Directory:", NetDir_), WithBrowse(this, NetDir_, "cmdBrowse"));
    form->addRow(Caption("Max Receive Packet:", Pss_), pssRow);
    form->addRow(AllowRefeed_);
    form->addRow(StripHdrs_);
    form->addRow(Caption("Suffix Address Solution:", Suffix_), Suffix_);

    auto* remote = Button("cmdRemote", "&Remote Systems", "Edit your remote systems listing.");
    auto* uninstall = Button("cmdUninstall", "&Uninstall");
    auto* ok = Button("cmdOK", "OK");
    ok->setDefault(true);
    auto* cancel = Button("cmdCancel", "Cancel");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(remote);
    buttons->addWidget(uninstall);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &zarvnetinet::cmdOK_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(remote, &QPushButton::clicked, this, &zarvnetinet::cmdRemote_Click);
    connect(uninstall, &QPushButton::clicked, this, &zarvnetinet::cmdUninstall_Click);
    Form_Load();
    resize(520, sizeHint().height());
}

void zarvnetinet::Form_Load() {
    const InetSettings s = ReadInetSettings(ReadLines(Net9Path(ctx_.bbs)));
    SystemId_->setText(Q(s.systemId));
    NetDir_->setText(Q(s.netDir));
    Pss_->setCurrentIndex(s.pssIndex);
    AllowRefeed_->setChecked(s.allowRefeed);
    StripHdrs_->setChecked(s.stripHdrs);
    Suffix_->setText(Q(s.suffix));
}

InetSettings zarvnetinet::FromControls() const {
    InetSettings s;
    s.systemId = T(SystemId_->text());
    s.netDir = T(NetDir_->text());
    s.pssIndex = Pss_->currentIndex();
    s.allowRefeed = AllowRefeed_->isChecked();
    s.stripHdrs = StripHdrs_->isChecked();
    s.suffix = T(Suffix_->text());
    return s;
}

bool zarvnetinet::SpoolDirValid() {
    if (DirExists(NetDir_->text().trimmed())) return true;
    QMessageBox::critical(this, kNetTitle, "The spool directory must be a valid directory!");
    return false;
}

void zarvnetinet::cmdOK_Click() {
    if (!SpoolDirValid()) return;
    for (QLineEdit* field : {SystemId_, NetDir_, Suffix_})
        if (!CheckSeparators(this, kNetTitle, field->objectName(), T(field->text()), "")) return;
    SaveInetSettings(ctx_.bbs, FromControls());
    accept();
}

void zarvnetinet::cmdRemote_Click() {
    zarvnetinetremote remote(ctx_, Trim(T(SystemId_->text())), this);
    remote.exec();
    Form_Load();
}

void zarvnetinet::cmdUninstall_Click() {
    const auto answer =
        QMessageBox::question(this, "ZARV - Network Removal Confirmation",
                              "Are you sure you want to uninstall this network?\r\nIf you uninstall this "
                              "network, OSPRINE cannot function and will exit.",
                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
    RemoveFile(Net9Path(ctx_.bbs));
    uninstalled_ = true;
    accept();
}

void zarvnetinet::done(int result) {
    // The dialog cannot be left while the spool directory is not a directory.
    if (!uninstalled_ && !SpoolDirValid()) return;
    QDialog::done(result);
}

zarvnetinetremote::zarvnetinetremote(UiContext& ctx, const Text& systemId, QWidget* parent) : QDialog(parent) {
    setObjectName("zarvnetinetremote");
    setWindowTitle("ZARV - Network Configuration - Remote Systems");
    ListDescription description;
    description.caption = [](int n) { return "Remote Entries (" + QString::number(n) + ")"; };
    description.newEntry = [systemId] { return NewRemoteEntry(systemId); };
    description.limit = 200;
    description.line = RemoteListLine;
    description.load = [&ctx] { return RemoteEntries(ReadLines(Net9Path(ctx.bbs))); };
    description.save = [&ctx](const TextList& entries) { SaveRemoteEntries(ctx.bbs, entries); };
    description.edit = [&ctx](QWidget* parent, int index) {
        zarvnetinetremoteedit edit(ctx, index, parent);
        edit.exec();
    };
    frame_ = new ListFrame(std::move(description));
    auto* clients = new QGroupBox("Clients");
    clients->setObjectName("fraClients");
    auto* inner = new QVBoxLayout(clients);
    inner->addWidget(frame_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(clients);
    layout->addLayout(CloseRow(this));
    resize(600, 360);
}

namespace {

struct RemoteField {
    const char* name;
    const char* caption;
    Text RemoteEntry::*field;
};
const RemoteField kRemoteFields[] = {
    {"RemoteSysName", "Remote System Name:", &RemoteEntry::name},
    {"RemotePhone", "Remote System Phone:", &RemoteEntry::phone},
    {"SmtpDir", "- Outgoing SMTP Dir:", &RemoteEntry::smtpDir},
    {"NntpDir", "- Outgoing NNTP Dir:", &RemoteEntry::nntpDir},
    {"LoginWait", "- Wait-For #1:", &RemoteEntry::loginWait},
    {"LoginSend", "- Send #1:", &RemoteEntry::loginSend},
    {"PasswordWait", "- Wait-For #2:", &RemoteEntry::passwordWait},
    {"PasswordSend", "- Send #2:", &RemoteEntry::passwordSend},
    {"KnowsAs", "Knows Us As:", &RemoteEntry::knowsAs},
    {"NewsAlias", "News Server Alias:", &RemoteEntry::newsAlias},
};
constexpr char kDialModes[] = {'N', 'L', 'D', 'H'};

}   // namespace

zarvnetinetremoteedit::zarvnetinetremoteedit(UiContext& ctx, int index, QWidget* parent)
    : QDialog(parent), ctx_(ctx), index_(index) {
    setObjectName("zarvnetinetremoteedit");
    setWindowTitle("ZARV - Network Configuration - Remote Entry");
    entries_ = RemoteEntries(ReadLines(Net9Path(ctx.bbs)));
    const RemoteEntry r =
        index >= 1 && index <= entries_.size() ? ParseRemoteEntry(entries_[index - 1]) : RemoteEntry();

    auto* frame = new QGroupBox("Remote Entry " + QString::number(index) + " / " + QString::number(entries_.size()));
    frame->setObjectName("fraRemote");
    auto* form = new QFormLayout(frame);
    for (const RemoteField& f : kRemoteFields) {
        QLineEdit* edit = NamedEdit(f.name);
        edit->setText(Q(r.*f.field));
        const bool dir = f.field == &RemoteEntry::smtpDir || f.field == &RemoteEntry::nntpDir;
        if (f.field == &RemoteEntry::phone) InstallKeyFilter(edit, KeyRules::UpperRefusing(";"));
        form->addRow(
            Caption(f.caption, edit),
            dir ? WithBrowse(this, edit, f.field == &RemoteEntry::smtpDir ? "cmdBrowseSmtp" : "cmdBrowseNntp") : edit);
    }
    auto* news = new QCheckBox("Default News Server");
    news->setObjectName("DefaultNews");
    news->setChecked(r.defaultNews);
    form->addRow(news);
    auto* dial = new QComboBox;
    dial->setObjectName("AutoDial");
    dial->addItems({"Disabled", "Daily/LD", "Daily/Local", "Hourly/Local"});
    dial->setCurrentIndex(
        std::max(0, int(std::find(std::begin(kDialModes), std::end(kDialModes), r.dialMode) - kDialModes) % 4));
    form->addRow(Caption("Automatic Dial-Out:", dial), dial);

    auto* buttons = OkCancelButtons(this, &zarvnetinetremoteedit::cmdOK_Click);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(buttons);
}

QLineEdit* zarvnetinetremoteedit::Edit(const char* name) const { return findChild<QLineEdit*>(name); }

void zarvnetinetremoteedit::cmdOK_Click() {
    RemoteEntry r;
    for (const RemoteField& f : kRemoteFields) {
        const Text typed = T(Edit(f.name)->text());
        if (!CheckSeparators(this, windowTitle(), QString::fromLatin1(f.caption).remove(':').remove("- "), typed,
                             f.field == &RemoteEntry::smtpDir || f.field == &RemoteEntry::nntpDir ? ";" : ""))
            return;
        r.*f.field = typed;
    }
    r.defaultNews = findChild<QCheckBox*>("DefaultNews")->isChecked();
    r.dialMode = kDialModes[std::clamp(findChild<QComboBox*>("AutoDial")->currentIndex(), 0, 3)];
    if (index_ >= 1 && index_ <= entries_.size()) {
        entries_[index_ - 1] = FormatRemoteEntry(r);
        SaveRemoteEntries(ctx_.bbs, entries_);
    }
    accept();
}
