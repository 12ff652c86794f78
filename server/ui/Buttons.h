#pragma once
// A push button with the object name that tests and readers find it by.
#include <QPushButton>

inline QPushButton* Button(const char* name, const char* caption, const char* tip = "") {
    auto* b = new QPushButton(QString::fromLatin1(caption));
    b->setObjectName(name);
    if (*tip) b->setToolTip(QString::fromLatin1(tip));
    return b;
}

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>

// The foot of a list window: "Close" ("cmdClose") on the right accepts it.
inline QHBoxLayout* CloseRow(QDialog* dialog) {
    auto* close = Button("cmdClose", "Close");
    QObject::connect(close, &QPushButton::clicked, dialog, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(close);
    return row;
}

// OK ("cmdOK") runs the dialog's handler; Cancel ("cmdCancel") rejects it.
template <typename Dialog>
QDialogButtonBox* OkCancelButtons(Dialog* dialog, void (Dialog::*onOk)()) {
    auto* buttons = new QDialogButtonBox;
    auto* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("cmdOK");
    auto* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    cancel->setObjectName("cmdCancel");
    QObject::connect(ok, &QPushButton::clicked, dialog, onOk);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return buttons;
}
