#include "server/ui/RelayConfigDialog.h"
#include "server/ui/Buttons.h"

#include "server/store/KeyedList.h"
#include "server/ui/KeyFilter.h"
#include "server/ui/Latin1.h"
#include "server/ui/ListDialogs.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

frmRelayConfig::frmRelayConfig(UiContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    setObjectName("frmRelayConfig");
    setWindowTitle("OSPRINE - Relay DB Configuration");
    CreateFile(ctx.KeyedList(), false);

    chkEnable_ = new QCheckBox("Enable");
    chkEnable_->setObjectName("RelayEnable");
    chkEnable_->setToolTip("Enable or disable the use of relay database lookups.");
    txtRelay_ = new QLineEdit;
    txtRelay_->setObjectName("txtRelay");
    txtRelay_->setToolTip("Enter the relay database hostname.");
    InstallKeyFilter(txtRelay_, KeyRules::Refuse(";"));
    cmdAdd_ = Button("cmdAdd", "&Add", "Add this relay database.");
    lstRelay_ = new QListWidget;
    lstRelay_->setObjectName("lstRelay");
    cmdRemove_ = Button("cmdRemove", "&Remove", "Remove the selected entry.");
    cmdMoveUp_ = Button("cmdMoveUp", "Move &Up");
    cmdMoveDown_ = Button("cmdMoveDown", "Move Do&wn");

    auto* entry = new QHBoxLayout;
    entry->addWidget(txtRelay_, 1);
    entry->addWidget(cmdAdd_);
    auto* side = new QVBoxLayout;
    for (QPushButton* b : {cmdRemove_, cmdMoveUp_, cmdMoveDown_}) side->addWidget(b);
    side->addStretch();
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(lstRelay_, 1);
    listRow->addLayout(side);
    frame_ = new QGroupBox("Relay Databases");
    frame_->setObjectName("fraRelay");
    auto* inner = new QVBoxLayout(frame_);
    inner->addLayout(entry);
    inner->addLayout(listRow);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chkEnable_);
    layout->addWidget(frame_);
    layout->addLayout(CloseRow(this));

    busy_ = true;
    chkEnable_->setChecked(On(ctx.settings.RelayEnable));
    busy_ = false;
    connect(chkEnable_, &QCheckBox::toggled, this, &frmRelayConfig::RelayEnable_Click);
    connect(cmdAdd_, &QPushButton::clicked, this, &frmRelayConfig::cmdAdd_Click);
    connect(cmdRemove_, &QPushButton::clicked, this, &frmRelayConfig::cmdRemove_Click);
    connect(cmdMoveUp_, &QPushButton::clicked, this, [this] { cmdMove_Click(-1); });
    connect(cmdMoveDown_, &QPushButton::clicked, this, [this] { cmdMove_Click(1); });
    Reload(0);
}

void frmRelayConfig::RelayEnable_Click() {
    if (busy_) return;
    ctx_.settings.RelayEnable = chkEnable_->isChecked() ? 1 : 0;
    if (ctx_.SaveCfg) ctx_.SaveCfg();
    RefreshStates();
}

// The zones can be edited only while the lookups are enabled.
void frmRelayConfig::RefreshStates() {
    const bool on = chkEnable_->isChecked();
    const int n = int(zones_.size());
    frame_->setEnabled(on);
    cmdRemove_->setEnabled(on && n >= 1);
    cmdMoveUp_->setEnabled(on && n >= 2);
    cmdMoveDown_->setEnabled(on && n >= 2);
}

void frmRelayConfig::Reload(int select) {
    busy_ = true;
    const Text value = GetData("relaydb", ctx_.KeyedList());
    zones_ = value.isEmpty() ? TextList() : Explode(";", value);
    lstRelay_->clear();
    const QHash<Text, Text> out = ctx_.ZonesOutOfService ? ctx_.ZonesOutOfService() : QHash<Text, Text>();
    for (const Text& z : zones_) {
        // A zone that failed its check is named so, with the reason as its tip.
        const auto reason = out.find(LCase(Trim(z)));
        auto* item = new QListWidgetItem(Q(reason == out.end() ? z : z + " (out of service)"), lstRelay_);
        if (reason != out.end()) item->setToolTip(Q("Not asked until the next daily check: " + *reason + "."));
    }
    if (!zones_.isEmpty()) lstRelay_->setCurrentRow(std::clamp(select, 0, int(zones_.size()) - 1));
    busy_ = false;
    RefreshStates();
}

void frmRelayConfig::Save(const TextList& zones) {
    TextList kept;
    for (const Text& z : zones)
        if (!z.isEmpty()) kept.append(z);
    PutData("relaydb", kept.join(';'), ctx_.KeyedList());
}

void frmRelayConfig::cmdAdd_Click() {
    const Text zone = Trim(T(txtRelay_->text()));
    if (zone.isEmpty()) return;
    if (!CheckSeparators(this, windowTitle(), "relay database name", zone, ";,")) return;
    TextList zones = zones_;
    zones.append(zone);
    Save(zones);
    Reload(int(zones.size()) - 1);
    txtRelay_->clear();
}

void frmRelayConfig::cmdRemove_Click() {
    const int row = lstRelay_->currentRow();
    if (row < 0 || row >= zones_.size()) return;
    TextList zones = zones_;
    zones.removeAt(row);
    Save(zones);
    Reload(row < zones.size() ? row : row - 1);
}

void frmRelayConfig::cmdMove_Click(int step) {
    const int row = lstRelay_->currentRow();
    const int to = row + step;
    if (row < 0 || to < 0 || to >= zones_.size()) return;
    TextList zones = zones_;
    zones.swapItemsAt(row, to);
    Save(zones);
    Reload(to);
}

QStringList frmRelayConfig::Zones() const {
    QStringList out;
    for (const Text& z : zones_) out << Q(z);
    return out;
}

void frmRelayConfig::done(int result) {
    DeleteData(ctx_.KeyedList());
    QDialog::done(result);
}
