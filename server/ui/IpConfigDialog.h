#pragma once
// frmIpConfig: the IP restriction list ("ipconfig") and the Allow/Block
// switch `IpAllowOnly`, which is saved the moment it is clicked.
#include "server/ui/UiContext.h"

#include <QDialog>

class QLineEdit;
class QListWidget;
class QRadioButton;

class frmIpConfig : public QDialog {
    Q_OBJECT
public:
    frmIpConfig(UiContext& ctx, QWidget* parent = nullptr);

    void cmdAdd_Click();
    void cmdRemove_Click();
    QStringList Patterns() const;
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void optAllowBlock_Click();
    void Reload();
    void Save(const TextList& patterns);
    bool IpKey(int box, class QKeyEvent* key);

    UiContext& ctx_;
    QRadioButton* optAllow_;
    QRadioButton* optBlock_;
    QLineEdit* txtIp_[4];
    QListWidget* lstIp_;
    TextList patterns_;
    bool busy_ = false;
};
