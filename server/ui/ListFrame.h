#pragma once
// The list part shared by every list dialog: a frame with the numbered
// entry lines and the Insert, Edit, Delete, Move Up and Move Down buttons.
// What differs between the lists (storage, line format, limit, new entry,
// edit dialog) comes in a ListDescription. Every change is saved at once.
#include "server/store/Text.h"

#include <QGroupBox>
#include <functional>

class QListWidget;
class QPushButton;

struct ListDescription {
    std::function<QString(int count)> caption;   // the frame caption
    std::function<Text()> newEntry;
    int limit = 0;
    std::function<Text(const Text& entry)> line;   // the line after the index
    std::function<TextList()> load;
    std::function<void(const TextList& entries)> save;      // entries may hold empty ones to drop
    std::function<void(QWidget* parent, int index)> edit;   // index from 1; the editor saves itself
};

class ListFrame : public QGroupBox {
    Q_OBJECT
public:
    explicit ListFrame(ListDescription description, QWidget* parent = nullptr);

    void Reload();   // load, refill, select the first entry
    int Count() const { return int(entries_.size()); }
    const TextList& Entries() const { return entries_; }
    QListWidget* List() const { return lstEntries_; }
    int Selected() const;   // list position, -1 when none

    void cmdInsert_Click();
    void cmdEdit_Click();
    void cmdDelete_Click();
    void cmdMoveUp_Click();
    void cmdMoveDown_Click();

    // The index right-aligned to the digits of the count, ": ", the line.
    static Text NumberedLine(int index, int count, const Text& line);

private:
    void Refill();
    void SaveAndShow(const TextList& entries, int select);
    void Select(int position);
    void Move(int from, int to);

    ListDescription description_;
    TextList entries_;
    QListWidget* lstEntries_;
    QPushButton *cmdInsert_, *cmdEdit_, *cmdDelete_, *cmdMoveUp_, *cmdMoveDown_;
    bool busy_ = false;   // suppresses our own selection events while refilling
};
