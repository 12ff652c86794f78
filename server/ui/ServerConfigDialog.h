#pragma once
// frmServerConfig: the three-tab dialog that edits the settings record.
// OK copies the controls into the record, applies the port, connection and
// autoresponder checks, then SaveCfg and LoadCfg; Cancel changes nothing.
#include "server/ui/UiContext.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QStackedLayout;
class QTabBar;

class frmServerConfig : public QDialog {
    Q_OBJECT
public:
    frmServerConfig(UiContext& ctx, QWidget* parent = nullptr);

    // True when Form_Load failed; the dialog then closes itself when shown.
    bool LoadFailed() const { return loadFailed_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildServerPage(QWidget* page);
    void BuildClientPage(QWidget* page);
    void BuildMiscPage(QWidget* page);
    void BuildKeyedPage(QWidget* page);
    QLineEdit* AddText(class QGridLayout* grid, const char* name, const char* caption, const char* tip, bool digits);
    QCheckBox* AddCheck(class QLayout* layout, const char* name, const char* caption, const char* tip);
    // The TLS settings of the keyed list: a mode choice, a file with a browse button.
    QComboBox* AddTlsMode(class QGridLayout* grid, const char* key, const char* caption, const char* tip);
    QLineEdit* AddFile(class QGridLayout* grid, const char* key, const char* caption, const char* tip);
    void LoadTlsKeys();
    void SaveTlsKeys();
    void LoadKeyedSettings();
    // False, with a message naming the setting, when a typed value is refused.
    bool SaveKeyedSettings();

    void Form_Load();
    void tbsOptions_Click(int index);
    void ClientAuth_Click();
    void Pop3Before_Click();
    void SmtpClient_Click();
    void AllowFreq_Click();
    void cmdOK_Click();

    void SetField(const char* name, bool enabled);
    QLineEdit* Edit(const char* name) const;
    QCheckBox* Check(const char* name) const;
    QComboBox* Choice(const char* name) const;

    UiContext& ctx_;
    QTabBar* tbsOptions_ = nullptr;
    QStackedLayout* pages_ = nullptr;
    QList<QGroupBox*> clientFrames_;
    bool loadFailed_ = false;
};
