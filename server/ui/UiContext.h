#pragma once
// What the settings dialogs need from the running server: the process-wide
// records and the few procedures that load and save them. The window front
// fills it from the engine; each dialog takes it by reference.
#include "server/bbs/BbsConfig.h"
#include "server/store/Settings.h"

#include <QHash>
#include <QString>
#include <functional>

struct UiContext {
    SettingsRecord& settings;
    BbsConfig& bbs;
    std::function<void()> SaveCfg;
    std::function<bool()> LoadCfg;
    std::function<bool()> IsActive;                         // at least one inbound session is busy
    std::function<QHash<Text, Text>()> ZonesOutOfService;   // block-list zone -> why
    std::function<Text()> InboundTlsState;                  // reloads the certificate; what the server says

    QString KeyedList() const { return KeyedListPath(bbs.MainDir()); }
};
