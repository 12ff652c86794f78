#include "server/ui/AboutDialog.h"

#include "server/store/Version.h"
#include "server/ui/HelpPages.h"
#include "server/ui/Latin1.h"
#include "server/ui/Pictures.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

ProcessMemory ReadProcessMemory(const QString& statusFile) {
    ProcessMemory m;
    QFile f(statusFile);
    if (!f.open(QIODevice::ReadOnly)) return m;
    // Lines such as "VmRSS:\t   10240 kB".
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2) continue;
        if (parts[0] == "VmRSS:")
            m.workingSetKB = parts[1].toLongLong();
        else if (parts[0] == "VmSwap:")
            m.pagefileKB = parts[1].toLongLong();
    }
    return m;
}

QString MemoryUsageText(const ProcessMemory& m) {
    const QLocale locale;
    return "RAM Usage: " + locale.toString(m.workingSetKB) + "KB  /  Pagefile Usage: " + locale.toString(m.pagefileKB) +
           "KB";
}

frmAbout::frmAbout(const QDateTime& startTime, QWidget* parent) : QDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle("About OSPRINE");

    auto label = [this](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(name);
        l->setWordWrap(true);
        return l;
    };
    auto* logo = new QLabel(this);
    logo->setPixmap(AppIcon().pixmap(64, 64));
    auto* title = label("lblTitle", "<b>OSPRINE</b> SMTP Server");
    auto* version = label("lblVersion", QString("Version ") + kVersion);
    const qint64 seconds = std::max<qint64>(0, startTime.secsTo(QDateTime::currentDateTime()));
    auto* uptime = label("lblUptime", "Uptime: " + Q(CalcUptime(seconds, false)));
    auto* memory = label("lblMemoryUsage", MemoryUsageText(ReadProcessMemory()));
    auto* disclaimer = label(
        "lblDisclaimer", QString("If you have any suggestions or comments regarding this program, send an email to ") +
                             kSupportAddress + ".");
    auto* link = label("lblWebLink", kMakerSite);
    link->installEventFilter(this);
    link->setCursor(Qt::PointingHandCursor);

    auto* sysInfo = new QPushButton("&System Info...", this);
    sysInfo->setObjectName("cmdSysInfo");
    sysInfo->setEnabled(false);   // no system-information program on this platform
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("cmdOk");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* head = new QHBoxLayout;
    head->addWidget(logo);
    auto* texts = new QVBoxLayout;
    for (QLabel* l : {title, version, uptime, memory}) texts->addWidget(l);
    head->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(link);
    buttons->addStretch();
    buttons->addWidget(sysInfo);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(disclaimer);
    layout->addLayout(buttons);
    resize(440, sizeHint().height());
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick && watched->objectName() == "lblWebLink") {
        QDesktopServices::openUrl(QUrl(kMakerSite));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
