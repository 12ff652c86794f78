#pragma once
// frmRelayConfig: the DNS block-list zones ("relaydb") and the switch
// `RelayEnable`, which is saved the moment it is clicked.
#include "server/ui/UiContext.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;

class frmRelayConfig : public QDialog {
    Q_OBJECT
public:
    frmRelayConfig(UiContext& ctx, QWidget* parent = nullptr);

    void RelayEnable_Click();
    void cmdAdd_Click();
    void cmdRemove_Click();
    void cmdMove_Click(int step);
    QStringList Zones() const;
    void done(int result) override;

private:
    void Reload(int select);
    void Save(const TextList& zones);
    void RefreshStates();

    UiContext& ctx_;
    QCheckBox* chkEnable_;
    QLineEdit* txtRelay_;
    QListWidget* lstRelay_;
    QGroupBox* frame_;
    QPushButton *cmdAdd_, *cmdRemove_, *cmdMoveUp_, *cmdMoveDown_;
    TextList zones_;
    bool busy_ = false;
};
