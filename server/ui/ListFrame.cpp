#include "server/ui/ListFrame.h"
#include "server/ui/Buttons.h"

#include "server/ui/Latin1.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

ListFrame::ListFrame(ListDescription description, QWidget* parent)
    : QGroupBox(parent), description_(std::move(description)) {
    setObjectName("fraList");
    lstEntries_ = new QListWidget;
    lstEntries_->setObjectName("lstEntries");
    QFont fixed("Monospace");
    fixed.setStyleHint(QFont::TypeWriter);
    lstEntries_->setFont(fixed);
    cmdInsert_ = Button("cmdInsert", "&Insert");
    cmdEdit_ = Button("cmdEdit", "&Edit");
    cmdDelete_ = Button("cmdDelete", "&Delete");
    cmdMoveUp_ = Button("cmdMoveUp", "Move &Up");
    cmdMoveDown_ = Button("cmdMoveDown", "Move Do&wn");

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {cmdInsert_, cmdEdit_, cmdDelete_, cmdMoveUp_, cmdMoveDown_}) buttons->addWidget(b);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(lstEntries_, 1);
    layout->addLayout(buttons);

    connect(cmdInsert_, &QPushButton::clicked, this, &ListFrame::cmdInsert_Click);
    connect(cmdEdit_, &QPushButton::clicked, this, &ListFrame::cmdEdit_Click);
    connect(cmdDelete_, &QPushButton::clicked, this, &ListFrame::cmdDelete_Click);
    connect(cmdMoveUp_, &QPushButton::clicked, this, &ListFrame::cmdMoveUp_Click);
    connect(cmdMoveDown_, &QPushButton::clicked, this, &ListFrame::cmdMoveDown_Click);
    connect(lstEntries_, &QListWidget::itemDoubleClicked, this, [this] {
        if (!busy_) cmdEdit_Click();
    });
    Reload();
}

Text ListFrame::NumberedLine(int index, int count, const Text& line) {
    const int width = int(QByteArray::number(count).size());
    return StrPad(QByteArray::number(index), width, " ", PadMode::Left) + ": " + line;
}

void ListFrame::Reload() {
    entries_ = description_.load();
    Refill();
    Select(0);
}

void ListFrame::Refill() {
    busy_ = true;
    lstEntries_->clear();
    const int n = Count();
    for (int i = 0; i < n; ++i) lstEntries_->addItem(Q(NumberedLine(i + 1, n, description_.line(entries_[i]))));
    setTitle(description_.caption(n));
    cmdEdit_->setEnabled(n >= 1);
    cmdDelete_->setEnabled(n >= 1);
    cmdMoveUp_->setEnabled(n >= 2);
    cmdMoveDown_->setEnabled(n >= 2);
    cmdInsert_->setEnabled(n < description_.limit);
    busy_ = false;
}

int ListFrame::Selected() const { return lstEntries_->currentRow(); }

void ListFrame::Select(int position) {
    if (position >= 0 && position < Count()) lstEntries_->setCurrentRow(position);
}

void ListFrame::SaveAndShow(const TextList& entries, int select) {
    description_.save(entries);
    entries_ = description_.load();
    Refill();
    Select(select < Count() ? select : Count() - 1);
}

void ListFrame::cmdInsert_Click() {
    if (Count() >= description_.limit) return;
    TextList entries = entries_;
    entries.append(description_.newEntry());
    SaveAndShow(entries, int(entries.size()) - 1);
}

void ListFrame::cmdEdit_Click() {
    const int position = Selected();
    if (position < 0) return;
    description_.edit(this, position + 1);
    entries_ = description_.load();
    Refill();
    Select(position < Count() ? position : Count() - 1);
}

void ListFrame::cmdDelete_Click() {
    const int position = Selected();
    if (position < 0) return;
    TextList entries = entries_;
    entries[position] = Text();
    SaveAndShow(entries, position);
}

void ListFrame::Move(int from, int to) {
    if (from < 0 || to < 0 || to >= Count()) return;
    TextList entries = entries_;
    entries.swapItemsAt(from, to);
    SaveAndShow(entries, to);
}

void ListFrame::cmdMoveUp_Click() { Move(Selected(), Selected() - 1); }
void ListFrame::cmdMoveDown_Click() { Move(Selected(), Selected() + 1); }
