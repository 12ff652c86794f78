#include "server/ui/IpConfigDialog.h"
#include "server/ui/Buttons.h"

#include "server/lists/IpPatterns.h"
#include "server/store/KeyedList.h"
#include "server/ui/Latin1.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

frmIpConfig::frmIpConfig(UiContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    setObjectName("frmIpConfig");
    setWindowTitle("OSPRINE - IP Restrictions");
    CreateFile(ctx.KeyedList(), false);

    optAllow_ = new QRadioButton("Allow");
    optAllow_->setObjectName("optAllowBlock0");
    optAllow_->setToolTip("Only allow the IP's listed to connect.");
    optBlock_ = new QRadioButton("Block");
    optBlock_->setObjectName("optAllowBlock1");
    optBlock_->setToolTip("Block the listed IP's from connecting.");
    auto* mode = new QHBoxLayout;
    mode->addWidget(optAllow_);
    mode->addWidget(optBlock_);
    mode->addStretch();

    auto* entry = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        txtIp_[i] = new QLineEdit;
        txtIp_[i]->setObjectName(QString("txtIp%1").arg(i + 1));
        txtIp_[i]->setMaxLength(3);
        txtIp_[i]->setFixedWidth(48);
        txtIp_[i]->installEventFilter(this);
        if (i) entry->addWidget(new QLabel("."));
        entry->addWidget(txtIp_[i]);
    }
    auto* add = Button("cmdAdd", "&Add", "Add this IP address.");
    entry->addWidget(add);
    entry->addStretch();

    auto* entry6 = new QHBoxLayout;
    txtIpv6_ = new QLineEdit;
    txtIpv6_->setObjectName("txtIpv6");
    txtIpv6_->setMaxLength(64);
    txtIpv6_->setPlaceholderText("2001:db8::/32");
    txtIpv6_->setToolTip("Enter an IPv6 address, or a network as address/prefix length.");
    auto* add6 = Button("cmdAddIpv6", "Add IPv&6", "Add this IPv6 address or network.");
    entry6->addWidget(txtIpv6_);
    entry6->addWidget(add6);

    lstIp_ = new QListWidget;
    lstIp_->setObjectName("lstIp");
    auto* remove = Button("cmdRemove", "&Remove", "Remove the selected IP address.");
    auto* close = Button("cmdClose", "Close");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(remove);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* frame = new QGroupBox("IP Addresses");
    frame->setObjectName("fraIp");
    auto* inner = new QVBoxLayout(frame);
    inner->addLayout(mode);
    inner->addLayout(entry);
    inner->addLayout(entry6);
    inner->addWidget(lstIp_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(buttons);

    busy_ = true;
    (On(ctx.settings.IpAllowOnly) ? optAllow_ : optBlock_)->setChecked(true);
    busy_ = false;
    connect(optAllow_, &QRadioButton::toggled, this, &frmIpConfig::optAllowBlock_Click);
    connect(add, &QPushButton::clicked, this, &frmIpConfig::cmdAdd_Click);
    connect(add6, &QPushButton::clicked, this, &frmIpConfig::cmdAddIpv6_Click);
    connect(remove, &QPushButton::clicked, this, &frmIpConfig::cmdRemove_Click);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    Reload();
}

void frmIpConfig::optAllowBlock_Click() {
    if (busy_) return;
    ctx_.settings.IpAllowOnly = optAllow_->isChecked() ? 1 : 0;
    if (ctx_.SaveCfg) ctx_.SaveCfg();
}

// The address boxes: digits, "*" (the whole box becomes "*"), "." to the
// next box, backspace in an empty box back to the previous one.
bool frmIpConfig::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    for (int i = 0; i < 4; ++i)
        if (watched == txtIp_[i]) return IpKey(i, static_cast<QKeyEvent*>(event));
    return false;
}

bool frmIpConfig::IpKey(int box, QKeyEvent* key) {
    const QString typed = key->text();
    if (typed.size() != 1) return false;
    const QChar c = typed[0];
    QLineEdit* edit = txtIp_[box];
    if (c == QChar(8)) {
        if (edit->text().isEmpty() && box > 0) {
            txtIp_[box - 1]->setFocus();
            return true;
        }
        return false;
    }
    if (c.unicode() < 32) return false;   // shortcuts
    if (c == '*') {
        edit->setText("*");
        return true;
    }
    if (c == '.') {
        if (box < 3) {
            txtIp_[box + 1]->setFocus();
            txtIp_[box + 1]->selectAll();
        }
        return true;
    }
    return !c.isDigit() || c.unicode() > 127;
}

void frmIpConfig::Reload() {
    const Text value = GetData("ipconfig", ctx_.KeyedList());
    patterns_ = value.isEmpty() ? TextList() : Explode(";", value);
    lstIp_->clear();
    for (const Text& p : patterns_) lstIp_->addItem(Q(p));
    if (!patterns_.isEmpty()) lstIp_->setCurrentRow(0);
}

void frmIpConfig::Save(const TextList& patterns) {
    PutData("ipconfig", SortIpPatterns(patterns).join(';'), ctx_.KeyedList());
}

void frmIpConfig::cmdAdd_Click() {
    TextList parts;
    for (QLineEdit* box : txtIp_) {
        const Text part = Trim(T(box->text()));
        if (!IsIpPart(part)) return;
        parts.append(part);
    }
    Add(parts.join('.'));
    for (QLineEdit* box : txtIp_) box->clear();
    txtIp_[0]->setFocus();
}

void frmIpConfig::cmdAddIpv6_Click() {
    Text entry, why;
    if (!AcceptIpv6Row(T(txtIpv6_->text()), entry, why)) {
        QString message = Q(why) + ".";
        message[0] = message[0].toUpper();
        QMessageBox::warning(this, windowTitle(), message);
        txtIpv6_->setFocus();
        return;
    }
    Add(entry);
    txtIpv6_->clear();
}

void frmIpConfig::Add(const Text& pattern) {
    TextList patterns = patterns_;
    patterns.append(pattern);
    Save(patterns);
    Reload();
}

void frmIpConfig::cmdRemove_Click() {
    const int row = lstIp_->currentRow();
    if (row < 0 || row >= patterns_.size()) return;
    TextList patterns = patterns_;
    patterns.removeAt(row);
    Save(patterns);
    Reload();
    if (lstIp_->count()) lstIp_->setCurrentRow(std::min(row, lstIp_->count() - 1));
}

QStringList frmIpConfig::Patterns() const {
    QStringList out;
    for (const Text& p : patterns_) out << Q(p);
    return out;
}

void frmIpConfig::done(int result) {
    DeleteData(ctx_.KeyedList());
    QDialog::done(result);
}
