#pragma once
// Help > Check for Updates: the "ZRV Update" prompt that starts the update
// utility with the chosen update type.
#include <QDialog>

class QComboBox;

// The update utility in the BBS main directory, else beside this program;
// "" when neither exists.
QString FindUpdateProgram(const QString& mainDir, const QString& programDir);
QString UpdateMissingText();

class frmUpdate : public QDialog {
    Q_OBJECT
public:
    frmUpdate(QString program, QString mainDir, QWidget* parent = nullptr);
    void cmdOK_Click();
    // "/TYPE=" + the selected entry's index plus 1.
    QString TypeArgument() const;

private:
    QString program_, mainDir_;
    QComboBox* updatetype_;
};
