#pragma once
// The mailing-list editor for the BBS's "LISTSERV.LST" in the Internet
// spool directory: zarvinetmaillist (the lists), zarvinetmaillistlist (one
// list with its subscribers) and zarvinetmaillistedit (one subscriber).
#include "server/lists/MailingListFile.h"
#include "server/ui/UiContext.h"

#include <QDialog>

class ListFrame;
class QLineEdit;

class zarvinetmaillist : public QDialog {
    Q_OBJECT
public:
    // `spoolDir` must exist (see ShowMailingListEditor).
    zarvinetmaillist(const QString& spoolDir, QWidget* parent = nullptr);
    ListFrame* Frame() const { return frame_; }

private:
    ListFrame* frame_;
};

class zarvinetmaillistlist : public QDialog {
    Q_OBJECT
public:
    zarvinetmaillistlist(const QString& file, int index, QWidget* parent = nullptr);
    ListFrame* Subscribers() const { return frame_; }
    void cmdSave_Click();

private:
    QString file_;
    int index_;
    TextList lines_;
    TextList subscribers_;
    QLineEdit *ListName_, *ListOwner_;
    ListFrame* frame_;
};

class zarvinetmaillistedit : public QDialog {
    Q_OBJECT
public:
    zarvinetmaillistedit(TextList& subscribers, int index, QWidget* parent = nullptr);
    void cmdOK_Click();

private:
    TextList& subscribers_;
    int index_;
    QLineEdit* Address_;
};

// Opens the editor, or says why it cannot: no valid spool directory.
void ShowMailingListEditor(UiContext& ctx, QWidget* parent);
