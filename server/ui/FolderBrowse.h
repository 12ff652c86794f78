#pragma once
// The browse buttons of the directory fields: the desktop's folder chooser,
// started in the field's directory when it exists, else in the current one.
#include <QString>

class QLineEdit;
class QWidget;

// The chosen folder, or "" when the chooser was cancelled.
QString BrowseForFolder(QWidget* parent, const QString& current);
// Puts a chosen folder into the field; a cancel leaves it unchanged.
void BrowseInto(QWidget* parent, QLineEdit* field);
