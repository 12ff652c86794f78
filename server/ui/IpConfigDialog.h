#pragma once
// frmIpConfig: the IP restriction list ("ipconfig") and the Allow/Block
// switch `IpAllowOnly`, which is saved the moment it is clicked. IPv4
// patterns are typed into four boxes, IPv6 networks into one line.
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
    // Adds the IPv6 address or network typed; a refused one is explained in a message box.
    void cmdAddIpv6_Click();
    void cmdRemove_Click();
    QStringList Patterns() const;
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void optAllowBlock_Click();
    void Reload();
    void Save(const TextList& patterns);
    void Add(const Text& pattern);
    bool IpKey(int box, class QKeyEvent* key);

    UiContext& ctx_;
    QRadioButton* optAllow_;
    QRadioButton* optBlock_;
    QLineEdit* txtIp_[4];
    QLineEdit* txtIpv6_;
    QListWidget* lstIp_;
    TextList patterns_;
    bool busy_ = false;
};
