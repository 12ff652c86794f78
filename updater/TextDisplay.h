#pragma once
// frmTextDisplay: a read-only window for a package's notes or history.
#include <QWidget>
#include "updater/ZrvConstants.h"

class QPlainTextEdit;
class QPushButton;

class frmTextDisplay : public QWidget {
    Q_OBJECT
public:
    frmTextDisplay(const QString& title, const Text& text, QWidget* parent = nullptr);

private:
    QPlainTextEdit* txtDisplay_;
    QPushButton* cmdClose_;
};

// Text of the service (ANSI bytes, CR LF lines) as the windows show it.
QString DisplayText(const Text& text);
