#pragma once
// The BBS Internet network dialogs: zarvnetinet (the NET.9 settings),
// zarvnetinetremote (the remote systems) and zarvnetinetremoteedit (one remote).
#include "server/lists/InetNetwork.h"
#include "server/ui/UiContext.h"

#include <QDialog>

class ListFrame;
class QCheckBox;
class QComboBox;
class QLineEdit;

class zarvnetinet : public QDialog {
    Q_OBJECT
public:
    zarvnetinet(UiContext& ctx, QWidget* parent = nullptr);

    void cmdOK_Click();
    void cmdRemote_Click();
    void cmdUninstall_Click();
    void done(int result) override;
    bool Uninstalled() const { return uninstalled_; }

private:
    void Form_Load();
    bool SpoolDirValid();
    InetSettings FromControls() const;

    UiContext& ctx_;
    QLineEdit *SystemId_, *NetDir_, *Suffix_;
    QComboBox* Pss_;
    QCheckBox *AllowRefeed_, *StripHdrs_;
    bool uninstalled_ = false;
};

class zarvnetinetremote : public QDialog {
    Q_OBJECT
public:
    // `systemId`: the network dialog's system name when Remote Systems was pressed.
    zarvnetinetremote(UiContext& ctx, const Text& systemId, QWidget* parent = nullptr);
    ListFrame* Frame() const { return frame_; }

private:
    ListFrame* frame_;
};

class zarvnetinetremoteedit : public QDialog {
    Q_OBJECT
public:
    zarvnetinetremoteedit(UiContext& ctx, int index, QWidget* parent = nullptr);
    void cmdOK_Click();

private:
    QLineEdit* Edit(const char* name) const;

    UiContext& ctx_;
    int index_;
    TextList entries_;
};
