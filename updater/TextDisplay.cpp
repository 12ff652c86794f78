#include "updater/TextDisplay.h"
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

QString DisplayText(const Text& text) {
    Text lines = text;
    lines.replace("\r\n", "\n").replace('\r', '\n');
    return QString::fromLatin1(lines);
}

frmTextDisplay::frmTextDisplay(const QString& title, const Text& text, QWidget* parent)
    : QWidget(parent, Qt::Window),
      txtDisplay_(new QPlainTextEdit(this)),
      cmdClose_(new QPushButton(tr("&Close"), this)) {
    setObjectName(QStringLiteral("frmTextDisplay"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    txtDisplay_->setObjectName(QStringLiteral("txtDisplay"));
    txtDisplay_->setReadOnly(true);
    txtDisplay_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    txtDisplay_->setPlainText(DisplayText(text));
    cmdClose_->setObjectName(QStringLiteral("cmdClose"));
    connect(cmdClose_, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdClose_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtDisplay_);
    layout->addLayout(buttons);
    resize(520, 400);
}
