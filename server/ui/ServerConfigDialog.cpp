#include "server/ui/ServerConfigDialog.h"

#include "server/net/Tls.h"
#include "server/store/ErrorLog.h"
#include "server/store/KeyedList.h"
#include "server/store/KeyedSettings.h"
#include "server/store/SettingsFields.h"
#include "server/store/Version.h"
#include "server/ui/KeyFilter.h"
#include "server/ui/Latin1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>
#include <stdexcept>

namespace {

QGroupBox* Frame(const char* title, const char* name, QLayout* layout) {
    auto* box = new QGroupBox(QString::fromLatin1(title));
    box->setObjectName(name);
    box->setLayout(layout);
    return box;
}

Text Cut(const QString& s) { return Trim(T(s)).left(kSettingsTextWidth); }

// The client TLS modes as the dialog offers them, in this order.
const std::pair<TlsMode, const char*> kTlsModes[] = {
    {TlsMode::Auto, "Automatic (TLS when offered)"},
    {TlsMode::StartTls, "STARTTLS required"},
    {TlsMode::Implicit, "Implicit TLS"},
    {TlsMode::None, "None (clear text)"},
};
const char* const kTlsFileKeys[] = {TlsSettings::kClientCaKey, TlsSettings::kServerCertKey, TlsSettings::kServerKeyKey};
const char* const kTlsModeKeys[] = {TlsSettings::kClientKey, TlsSettings::kPop3Key};

}   // namespace

frmServerConfig::frmServerConfig(UiContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    setObjectName("frmServerConfig");
    setWindowTitle("OSPRINE - Configuration");
    setModal(true);

    tbsOptions_ = new QTabBar(this);
    tbsOptions_->setObjectName("tbsOptions");
    tbsOptions_->addTab("SMTP &Server");
    tbsOptions_->addTab("SMTP &Client");
    tbsOptions_->addTab("&Miscellaneous");
    tbsOptions_->addTab("&Keyed Settings");

    // The pages scroll when the screen is too small for them (768 pixels
    // at 120 dpi).
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("scrOptions");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* pageArea = new QWidget;
    pages_ = new QStackedLayout(pageArea);
    for (int i = 0; i < 4; ++i) {
        auto* page = new QWidget(pageArea);
        page->setObjectName(QString("picOptions%1").arg(i));
        pages_->addWidget(page);
    }
    scroll->setWidget(pageArea);
    BuildServerPage(pages_->widget(0));
    BuildClientPage(pages_->widget(1));
    BuildMiscPage(pages_->widget(2));
    BuildKeyedPage(pages_->widget(3));   // last: it leaves out what the others hold

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("cmdOK");
    ok->setDefault(true);
    auto* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    cancel->setObjectName("cmdCancel");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tbsOptions_);
    layout->addWidget(scroll);
    layout->addWidget(buttons);

    connect(tbsOptions_, &QTabBar::currentChanged, this, &frmServerConfig::tbsOptions_Click);
    connect(ok, &QPushButton::clicked, this, &frmServerConfig::cmdOK_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(Check("ClientAuth"), &QCheckBox::clicked, this, &frmServerConfig::ClientAuth_Click);
    connect(Check("Pop3Before"), &QCheckBox::clicked, this, &frmServerConfig::Pop3Before_Click);
    connect(Check("SmtpClient"), &QCheckBox::clicked, this, &frmServerConfig::SmtpClient_Click);
    connect(Check("AllowFreq"), &QCheckBox::clicked, this, &frmServerConfig::AllowFreq_Click);

    Form_Load();
}

QLineEdit* frmServerConfig::AddText(QGridLayout* grid, const char* name, const char* caption, const char* tip,
                                    bool digits) {
    auto* label = new QLabel(QString::fromLatin1(caption));
    label->setObjectName(QString("lbl") + name);
    label->setToolTip(QString::fromLatin1(tip));
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setToolTip(QString::fromLatin1(tip));
    label->setBuddy(edit);
    if (digits) InstallKeyFilter(edit, KeyRules::Digits());
    const int row = grid->rowCount();
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
}

QCheckBox* frmServerConfig::AddCheck(QLayout* layout, const char* name, const char* caption, const char* tip) {
    auto* box = new QCheckBox(QString::fromLatin1(caption));
    box->setObjectName(name);
    box->setToolTip(QString::fromLatin1(tip));
    layout->addWidget(box);
    return box;
}

QComboBox* frmServerConfig::AddTlsMode(QGridLayout* grid, const char* key, const char* caption, const char* tip) {
    auto* label = new QLabel(QString::fromLatin1(caption));
    label->setObjectName(QString("lbl") + key);
    auto* choice = new QComboBox;
    choice->setObjectName(key);
    choice->setToolTip(QString::fromLatin1(tip));
    for (const auto& [mode, text] : kTlsModes) choice->addItem(QString::fromLatin1(text), int(mode));
    label->setBuddy(choice);
    const int row = grid->rowCount();
    grid->addWidget(label, row, 0);
    grid->addWidget(choice, row, 1, 1, 2);
    return choice;
}

QLineEdit* frmServerConfig::AddFile(QGridLayout* grid, const char* key, const char* caption, const char* tip) {
    QLineEdit* edit = AddText(grid, key, caption, tip, false);
    // A long path shows its end, the file's name; the tool tip holds all of it.
    connect(edit, &QLineEdit::textChanged, edit, [edit, tip](const QString& path) {
        edit->setToolTip(path.isEmpty() ? QString::fromLatin1(tip) : path);
        if (!edit->hasFocus()) edit->setCursorPosition(int(path.size()));
    });
    auto* browse = new QPushButton("...");
    browse->setObjectName(QString("cmdBrowse") + key);
    browse->setToolTip("Choose the file.");
    grid->addWidget(browse, grid->rowCount() - 1, 2);
    connect(browse, &QPushButton::clicked, this, [this, edit, caption] {
        const QString file = QFileDialog::getOpenFileName(this, QString::fromLatin1(caption), edit->text(),
                                                          "PEM files (*.pem *.crt *.key);;All files (*)");
        if (!file.isEmpty()) edit->setText(file);
    });
    return edit;
}

void frmServerConfig::BuildServerPage(QWidget* page) {
    auto* inbound = new QGridLayout;
    AddText(inbound, "Port", "SMTP Listening Port:", "The port that OSPRN will listen for incoming SMTP connections.",
            true);
    AddText(inbound, "MaxConnections",
            "Max. SMTP Connections:", "The maximum  number of simultaneous SMTP connections.", true);
    AddText(inbound, "MaxLogSize",
            "Maximum Log Size:", "The maximum size of the log file before it is rotated (in bytes).", true);
    AddText(inbound, "MaxMailSize", "Maximum Message Size:",
            "The maximum size of incoming messages, including attachments (in bytes), max 10MB. ", false);

    auto* options = new QVBoxLayout;
    AddCheck(options, "VerifyUser", "Perform User Verification",
             "If enabled, OSPRINE will check to see if the mail recipient is a valid user or alias.");
    AddCheck(
        options, "AutoVerify", "Automatically Add Users to HANDLES.UIP",
        "If enabled, OSPRINE will automatically add valid BBS users to HANDLES.UIP if they are missing. Any entries "
        "with the same user number will be removed.");
    AddCheck(options, "EmailUserNumber", "Allow Mail to User Numbers",
             "If enabled then incoming mail addressed to a user number will be allowed.");
    AddCheck(options, "CheckFlags", "Recipient Must Have Internet Flag",
             "If enabled, the recipient must have the flag set for the Internet in NETWORKS.LST.");
    AddCheck(options, "AllowVrfy", "Allow VRFY Query", "If enabled, user queries with the VRFY command are allowed.");
    AddCheck(options, "AllowExpn", "Allow EXPN Query",
             "If enabled, mailing list queries using the EXPN command are allowed.");

    auto* advanced = new QVBoxLayout;
    AddCheck(advanced, "AllowCarbonCopy", "Process Cc: and Bcc: Headers",
             "If enabled, then OSPRINE will attempt to deliver the message to all addresses. This should typically be "
             "disabled.");
    AddCheck(advanced, "SpamAssassin", "Enable SpamAssassin",
             "If enabled, OSPRINE will execute SpamAssassin for spam checking. SpamAssassin must be installed properly "
             "for this to work.");

    auto* tls = new QGridLayout;
    AddFile(
        tls, TlsSettings::kServerCertKey, "Certificate File:",
        "The server's certificate (PEM), followed by any intermediate certificates. With a key, senders may use STARTTLS.");
    AddFile(tls, TlsSettings::kServerKeyKey,
            "Private Key File:", "The certificate's private key (PEM, not encrypted).");
    auto* state = new QLabel;
    state->setObjectName("lblTlsState");
    state->setWordWrap(true);
    tls->addWidget(state, tls->rowCount(), 0, 1, 3);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Frame("SMTP Server (Inbound)", "fraInbound", inbound));
    layout->addWidget(Frame("Encryption (STARTTLS)", "fraServerTls", tls));
    layout->addWidget(Frame("Options", "fraOptions", options));
    layout->addWidget(Frame("Advanced Options", "fraAdvanced", advanced));
    layout->addStretch();
}

void frmServerConfig::BuildClientPage(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    AddCheck(layout, "SmtpClient", "Enable SMTP Client", "Enable if you want OSPRINE to process outgoing mail.");

    auto* outbound = new QGridLayout;
    AddText(outbound, "ClientHost", "SMTP Server Hostname:", "The hostname or IP address of your ISP's SMTP server.",
            false);
    AddText(outbound, "ClientPort", "SMTP Server Port:", "The port number your ISP's SMTP server uses.", false);

    auto* auth = new QGridLayout;
    auto* authCheck = new QCheckBox("Enable SMTP Authentication");
    authCheck->setObjectName("ClientAuth");
    authCheck->setToolTip("If your ISP SMTP server requires authentication, enable this.");
    auth->addWidget(authCheck, 0, 0, 1, 2);
    AddText(auth, "AuthUsername", "Username:", "The username to use when authenticating the connection.", false);
    AddText(auth, "AuthPassword", "Password:", "The password to use when authenticating the connection.", false)
        ->setEchoMode(QLineEdit::Password);

    auto* pop3 = new QGridLayout;
    auto* pop3Check = new QCheckBox("Enable POP3 Before SMTP");
    pop3Check->setObjectName("Pop3Before");
    pop3Check->setToolTip(
        "If your ISP SMTP server requires a POP3 connection before the SMTP connection, enable this.");
    pop3->addWidget(pop3Check, 0, 0, 1, 2);
    AddText(pop3, "Pop3Host", "POP3 Server:", "The hostname or IP address of your ISP's POP3 server.", false);
    AddText(pop3, "Pop3Port", "POP3 Port:", "The port that your ISP's POP3 server uses.", false);
    AddText(pop3, "Pop3Username", "Username:", "The username to use when connecting to your ISP POP3 server.", false);
    AddText(pop3, "Pop3Password", "Password:", "The password to use when connecting to your ISP POP3 server.", false)
        ->setEchoMode(QLineEdit::Password);

    auto* tls = new QGridLayout;
    AddTlsMode(tls, TlsSettings::kClientKey, "SMTP Encryption:",
               "Automatic: implicit TLS on port 465, else STARTTLS whenever the server offers it; with authentication, "
               "never a password without TLS. None: clear text, for a server that has no TLS.");
    AddFile(tls, TlsSettings::kClientCaKey,
            "Extra CA File:", "Certificates (PEM) to trust besides the system's, for a private SMTP or POP3 server.");
    AddTlsMode(tls, TlsSettings::kPop3Key, "POP3 Encryption:",
               "Automatic: implicit TLS on port 995, else STLS; the password never goes out without TLS. None: "
               "clear text, for a server that has no TLS.");

    clientFrames_ = {Frame("SMTP Client (Outbound)", "fraOutbound", outbound),
                     Frame("Encryption (TLS)", "fraClientTls", tls), Frame("SMTP Authentication", "fraAuth", auth),
                     Frame("POP3 Before SMTP", "fraPop3", pop3)};
    for (QGroupBox* frame : clientFrames_) layout->addWidget(frame);
    layout->addStretch();
}

void frmServerConfig::BuildMiscPage(QWidget* page) {
    auto* maintenance = new QGridLayout;
    auto* daily = new QCheckBox("Perform Daily Maintenance");
    daily->setObjectName("DailyMaint");
    daily->setToolTip(
        "If enabled, OSPRINE will rebuild and clean up the HANDLES.UIP each night. THIS WILL DESTROY ANY "
        "CUSTOM ENTRIES YOU MAY HAVE.");
    maintenance->addWidget(daily, 0, 0, 1, 2);
    AddText(maintenance, "AutorespondUser",
            "Autoresponder User No.:", "Enter the user number of the autoresponder account.", true);

    auto* freq = new QGridLayout;
    auto* allow = new QCheckBox("Enable File Requests (FREQ)");
    allow->setObjectName("AllowFreq");
    allow->setToolTip("If you want to allow FREQing, enable this.");
    freq->addWidget(allow, 0, 0, 1, 2);
    AddText(freq, "MaxFreqSize",
            "Max. FREQ Filesize:", "The maximum size of a file that can be requested (in bytes), max 10MB.", true);

    auto* misc = new QVBoxLayout;
    AddCheck(misc, "CloseToTaskbar", "Close to Taskbar",
             "If enabled, OSPRINE will minimize itself instead of exiting when told to close using the X button.");
    AddCheck(misc, "SaveStats", "Maintain Statistical Information",
             "Enable this option if you want OSPRINE to remember the statistics between sessions.");
    AddCheck(misc, "SaveWindowPos", "Save Window Position on Exit",
             "If enabled, OSPRINE will remember the window position when closed.");
    AddCheck(misc, "ShowEventWindow", "Show Event Windows",
             "Enable if you would like the event windows to be visible when executed.");
    AddCheck(misc, "MinToTray", "Minimize to System Tray",
             "Enable if you would like OSPRN to minimize to the system tray.");

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Frame("Maintenance", "fraMaintenance", maintenance));
    layout->addWidget(Frame("File Request Options", "fraFreq", freq));
    layout->addWidget(Frame("Miscellaneous", "fraMisc", misc));
    layout->addStretch();
}

// Every keyed setting without a control of its own on the other pages: a
// row added to the table shows here without more.
void frmServerConfig::BuildKeyedPage(QWidget* page) {
    auto* grid = new QGridLayout;
    for (const KeyedSetting& k : KeyedSettings()) {
        if (findChild<QWidget*>(k.key)) continue;
        AddText(grid, k.key, k.key, k.description, false)->setPlaceholderText(Q(k.shownWhenAbsent));
    }
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Frame("Settings Kept in OSPRDATA.DAT", "fraKeyed", grid));
    layout->addStretch();
}

QLineEdit* frmServerConfig::Edit(const char* name) const { return findChild<QLineEdit*>(name); }
QCheckBox* frmServerConfig::Check(const char* name) const { return findChild<QCheckBox*>(name); }
QComboBox* frmServerConfig::Choice(const char* name) const { return findChild<QComboBox*>(name); }

void frmServerConfig::LoadTlsKeys() {
    const QString file = ctx_.KeyedList();
    for (const char* key : kTlsModeKeys)
        Choice(key)->setCurrentIndex(Choice(key)->findData(int(ParseTlsMode(GetData(key, file)))));
    for (const char* key : kTlsFileKeys) Edit(key)->setText(Q(Trim(GetData(key, file))));
    const Text state = ctx_.InboundTlsState ? ctx_.InboundTlsState() : Text();
    findChild<QLabel*>("lblTlsState")->setText(state.isEmpty() ? QString("Inbound TLS not configured.") : Q(state));
}

// Only what changed is written: the keyed list also holds the other lists.
void frmServerConfig::SaveTlsKeys() {
    const QString file = ctx_.KeyedList();
    for (const char* key : kTlsModeKeys) {
        const auto mode = TlsMode(Choice(key)->currentData().toInt());
        if (ParseTlsMode(GetData(key, file)) != mode) PutData(key, TlsModeName(mode), file);
    }
    for (const char* key : kTlsFileKeys) {
        const Text value = Trim(T(Edit(key)->text()));
        if (Trim(GetData(key, file)) != value) PutData(key, value, file);
    }
}

void frmServerConfig::LoadKeyedSettings() {
    for (const KeyedSetting& k : KeyedSettings()) {
        auto* edit = findChild<QLineEdit*>(QString::fromLatin1(k.key));
        if (edit && findChild<QWidget*>("fraKeyed")->isAncestorOf(edit))
            edit->setText(Q(KeyedSettingValue(k, ctx_.KeyedList())));
    }
}

bool frmServerConfig::SaveKeyedSettings() {
    QList<std::pair<const KeyedSetting*, Text>> changed;
    for (const KeyedSetting& k : KeyedSettings()) {
        auto* edit = findChild<QLineEdit*>(QString::fromLatin1(k.key));
        if (!edit || !findChild<QWidget*>("fraKeyed")->isAncestorOf(edit)) continue;
        Text value = T(edit->text()), why;
        if (Trim(value).isEmpty()) value = k.shownWhenAbsent;
        if (!k.accept(value, why)) {
            QMessageBox::warning(this, "OSPRINE - Configuration", Q(Text(k.key) + ": " + why));
            edit->setFocus();
            return false;
        }
        if (value != KeyedSettingValue(k, ctx_.KeyedList())) changed.append({&k, value});
    }
    for (const auto& [k, value] : changed) PutData(k->key, value, ctx_.KeyedList());
    return true;
}

// A text field and its label are enabled and disabled together.
void frmServerConfig::SetField(const char* name, bool enabled) {
    if (QLineEdit* edit = Edit(name))
        edit->setEnabled(enabled);
    else if (QCheckBox* box = Check(name))
        box->setEnabled(enabled);
    if (auto* label = findChild<QLabel*>(QString("lbl") + name)) label->setEnabled(enabled);
}

void frmServerConfig::Form_Load() {
    try {
        pages_->setCurrentIndex(0);
        const SettingsRecord& r = ctx_.settings;
        for (const SettingsField& f : SettingsFields()) {
            if (f.kind == SettingsField::Kind::Flag) {
                if (QCheckBox* box = Check(f.name)) box->setChecked(On(r.*f.small));
            } else if (QLineEdit* edit = Edit(f.name)) {
                edit->setText(Q(SettingsFieldText(r, f)));
            }
        }
        LoadTlsKeys();
        LoadKeyedSettings();
        if (ctx_.IsActive && ctx_.IsActive()) {
            SetField("Port", false);
            SetField("MaxConnections", false);
        }
        ClientAuth_Click();
        Pop3Before_Click();
        SmtpClient_Click();
        AllowFreq_Click();
    } catch (const std::exception& e) {   // Qt's widgets and strings, std::bad_alloc: the dialog closes unsaved
        loadFailed_ = true;
        QMessageBox::critical(this, "OSPRINE - Error", "An error occurred; closing configuration.");
        LogError("Form_Load", kVersion, "frmServerConfig", e.what());
    }
}

void frmServerConfig::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (loadFailed_) QTimer::singleShot(0, this, &QDialog::reject);
}

void frmServerConfig::tbsOptions_Click(int index) { pages_->setCurrentIndex(index); }

void frmServerConfig::ClientAuth_Click() {
    const bool on = Check("ClientAuth")->isChecked();
    SetField("AuthUsername", on);
    SetField("AuthPassword", on);
}

void frmServerConfig::Pop3Before_Click() {
    const bool on = Check("Pop3Before")->isChecked();
    for (const char* name : {"Pop3Host", "Pop3Port", "Pop3Username", "Pop3Password"}) SetField(name, on);
}

void frmServerConfig::SmtpClient_Click() {
    const bool on = Check("SmtpClient")->isChecked();
    for (QGroupBox* frame : clientFrames_) frame->setEnabled(on);
    if (!on) {
        for (const char* name : {"ClientHost", "ClientPort", "ClientAuth", "Pop3Before", "AuthUsername", "AuthPassword",
                                 "Pop3Host", "Pop3Port", "Pop3Username", "Pop3Password"})
            SetField(name, false);
        return;
    }
    for (const char* name : {"ClientHost", "ClientPort", "ClientAuth", "Pop3Before"}) SetField(name, true);
    ClientAuth_Click();
    Pop3Before_Click();
}

void frmServerConfig::AllowFreq_Click() { SetField("MaxFreqSize", Check("AllowFreq")->isChecked()); }

void frmServerConfig::cmdOK_Click() {
    // The record's controls never refuse: numbers are read leniently, texts
    // cut. The keyed settings are checked as osprinectl checks them.
    if (!SaveKeyedSettings()) return;
    SettingsRecord& r = ctx_.settings;
    for (const SettingsField& f : SettingsFields()) {
        if (f.kind == SettingsField::Kind::Flag) {
            if (QCheckBox* box = Check(f.name)) r.*f.small = box->isChecked() ? 1 : 0;
            continue;
        }
        QLineEdit* edit = Edit(f.name);
        // A greyed-out port or connection count keeps the record's value.
        if (!edit ||
            (!edit->isEnabled() && (f.small == &SettingsRecord::Port || f.small == &SettingsRecord::MaxConnections)))
            continue;
        const Text typed = Trim(T(edit->text()));
        if (f.kind == SettingsField::Kind::Small)
            r.*f.small = ValInteger(typed);
        else if (f.kind == SettingsField::Kind::Large)
            r.*f.large = ValLong(typed);
        else
            r.*f.text = Cut(edit->text());
    }
    ApplyDialogChecks(r);

    SaveTlsKeys();
    if (ctx_.SaveCfg) ctx_.SaveCfg();
    if (ctx_.LoadCfg) ctx_.LoadCfg();
    accept();
}
