#pragma once
// A BBS main directory in a temporary folder, the records the dialogs edit,
// and a helper that answers modal windows the way a sysop would.
#include "server/store/Files.h"
#include "server/store/Settings.h"
#include "server/ui/UiContext.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

// A free port that the 16-bit Port setting can hold, picked at random so
// that test processes running side by side do not meet.
inline quint16 FreePort() {
    for (int tries = 0; tries < 200; ++tries) {
        const auto port = quint16(QRandomGenerator::global()->bounded(20000, 32000));
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port)) return port;
    }
    return 0;
}

struct UiBbs {
    QTemporaryDir dir;
    SettingsRecord settings;
    BbsConfig bbs;
    bool active = false;
    QHash<Text, Text> zonesOutOfService;
    Text tlsState;
    int saves = 0;
    // SaveCfg and the tail of LoadCfg (read, upgrade, range checks) on the real file.
    UiContext ctx{settings,
                  bbs,
                  [this] {
                      ++saves;
                      WriteSettingsFile(MainDir(), settings);
                  },
                  [this] {
                      const Text bytes = ReadFileBytes(SettingsPath(MainDir()));
                      DecodeSettings(bytes, settings);
                      UpgradeSettings(settings, bytes.size());
                      ApplyRangeChecks(settings);
                      return true;
                  },
                  [this] { return active; },
                  [this] { return zonesOutOfService; },
                  [this] { return tlsState; }};

    UiBbs() {
        bbs.paths.fields[0] = dir.path().toLatin1();
        bbs.paths.fields[2] = dir.path().toLatin1();
    }
    QString MainDir() const { return dir.path(); }
    QString Path(const QString& name) const { return dir.path() + "/" + name; }
    QString KeyedList() const { return ctx.KeyedList(); }
};

// Calls `handle` with the active modal window as soon as there is one; the
// handler closes it. Polls every 10 ms for at most `limitMs`.
inline void WhenModal(std::function<void(QWidget*)> handle, int limitMs = 3000) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(limitMs / 10);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, handle] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal || --*tries <= 0) {
            timer->stop();
            timer->deleteLater();
            if (modal) handle(modal);
        }
    });
    timer->start(10);
}

struct BoxSeen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool seen = false;
};
// Answers the next message box with `button` and records what it said.
inline std::shared_ptr<BoxSeen> AnswerBox(QMessageBox::StandardButton button = QMessageBox::Ok) {
    auto seen = std::make_shared<BoxSeen>();
    WhenModal([seen, button](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) return;
        *seen = {box->windowTitle(), box->text(), box->icon(), true};
        QAbstractButton* b = box->button(button);
        if (b)
            b->click();
        else
            box->reject();
    });
    return seen;
}
