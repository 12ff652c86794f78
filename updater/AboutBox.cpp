#include "updater/AboutBox.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include "updater/ZrvConstants.h"

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("ZRV Update - About"));

    auto* lblProduct = new QLabel(QStringLiteral("ZRV Update"), this);
    lblProduct->setObjectName(QStringLiteral("lblProduct"));
    QFont bigger = lblProduct->font();
    bigger.setBold(true);
    bigger.setPointSizeF(bigger.pointSizeF() * 1.4);
    lblProduct->setFont(bigger);
    auto* lblVersion = new QLabel(QStringLiteral("Version ") + QLatin1String(kZrvVersion), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    auto* lblPurpose = new QLabel(tr("Checks for newer versions of the Zarvel BBS programs."), this);
    lblPurpose->setObjectName(QStringLiteral("lblPurpose"));
    auto* cmdOk = new QPushButton(tr("OK"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    connect(cmdOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOk);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblProduct);
    layout->addWidget(lblVersion);
    layout->addWidget(lblPurpose);
    layout->addLayout(buttons);
}
