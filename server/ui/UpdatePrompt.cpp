#include "server/ui/UpdatePrompt.h"
#include "server/ui/Buttons.h"

#include "server/ui/HelpPages.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

QString FindUpdateProgram(const QString& mainDir, const QString& programDir) {
    for (const QString& dir : {mainDir, programDir}) {
        const QFileInfo candidate(dir + "/ZRVUpdate");
        if (!dir.isEmpty() && candidate.isFile() && candidate.isExecutable()) return candidate.absoluteFilePath();
    }
    return {};
}

QString UpdateMissingText() {
    return QString(
               "ZRV Update is not installed.\r\nRe-install OSPRINE using the setup package, or\r\ndownload it at \"") +
           kUpdateDownload + "\"";
}

frmUpdate::frmUpdate(QString program, QString mainDir, QWidget* parent)
    : QDialog(parent), program_(std::move(program)), mainDir_(std::move(mainDir)) {
    setObjectName("frmUpdate");
    setWindowTitle("ZRV Update");
    setAttribute(Qt::WA_DeleteOnClose);
    updatetype_ = new QComboBox;
    updatetype_->setObjectName("updatetype");
    updatetype_->addItems({"Latest Build", "Unofficial and Official Releases", "Official Releases"});
    updatetype_->setCurrentIndex(2);
    auto* frame = new QGroupBox("Update Type");
    auto* inner = new QVBoxLayout(frame);
    inner->addWidget(updatetype_);
    auto* buttons = OkCancelButtons(this, &frmUpdate::cmdOK_Click);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(buttons);
}

QString frmUpdate::TypeArgument() const { return "/TYPE=" + QString::number(updatetype_->currentIndex() + 1); }

void frmUpdate::cmdOK_Click() {
    // A program that cannot be started gives no message.
    QProcess::startDetached(program_, {TypeArgument()}, mainDir_);
    accept();
}
