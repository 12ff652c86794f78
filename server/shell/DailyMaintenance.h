#pragma once
// When the nightly maintenance runs: on a supervision tick that found no
// session busy, once per calendar day, while setting DailyMaint is on.
#include "server/store/Settings.h"

#include <QDateTime>

class InboundServer;

// A session is busy while its slot is open and has not just been timed out;
// a closed slot only waits to be cleared and holds nothing up.
bool SessionBusy(const InboundServer& inbound);
bool MaintenanceDue(const SettingsRecord& settings, bool busy, const QDate& today);

// The event-window lines of the once-a-day events: time, date, text.
Text DailyDisplayResetLine(const QDateTime& now);
Text DailyMaintenanceLine(const QDateTime& now);
