#pragma once
// The list dialog and the edit dialog of the list-editor family, driven by
// a member's description (ListMembers.h).
#include "server/lists/ListMembers.h"
#include "server/ui/UiContext.h"

#include <QDialog>

class ListFrame;
class QLineEdit;

class ListDialog : public QDialog {
    Q_OBJECT
public:
    ListDialog(UiContext& ctx, const ListMember& member, QWidget* parent = nullptr);
    ListFrame* Frame() const { return frame_; }

    void done(int result) override;   // every way of closing ends here

private:
    UiContext& ctx_;
    const ListMember& member_;
    ListFrame* frame_;
};

class ListEditDialog : public QDialog {
    Q_OBJECT
public:
    // `index` counts from 1.
    ListEditDialog(UiContext& ctx, const ListMember& member, int index, QWidget* parent = nullptr);

    void cmdOK_Click();

private:
    Text BuildEntry() const;
    bool FieldsHoldNoSeparators();

    UiContext& ctx_;
    const ListMember& member_;
    int index_;
    TextList entries_;
};

// Refuses text that holds one of `refused` or a line break: the files use
// them as separators. Shows the reason and answers false.
bool CheckSeparators(QWidget* parent, const QString& title, const QString& field, const Text& text,
                     const char* refused);

// Opens the list dialog of a member modally (with its CreateFile on opening).
void ShowListDialog(UiContext& ctx, const QString& listForm, QWidget* parent);
