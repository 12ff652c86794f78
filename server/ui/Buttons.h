#pragma once
// A push button with the object name that tests and readers find it by.
#include <QPushButton>

inline QPushButton* Button(const char* name, const char* caption, const char* tip = "") {
    auto* b = new QPushButton(QString::fromLatin1(caption));
    b->setObjectName(name);
    if (*tip) b->setToolTip(QString::fromLatin1(tip));
    return b;
}
