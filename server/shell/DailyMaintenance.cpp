#include "server/shell/DailyMaintenance.h"

#include "server/inbound/InboundServer.h"
#include "server/store/Dates.h"

bool SessionBusy(const InboundServer& inbound) {
    for (int16_t slot = 1; slot <= inbound.HighestSlot(); ++slot)
        if (inbound.Slot(slot).use == SlotUse::Open) return true;
    return false;
}

bool MaintenanceDue(const SettingsRecord& settings, bool busy, const QDate& today) {
    return !busy && On(settings.DailyMaint) && Trim(settings.LastMaintDate) != YyMmDd(today);
}

namespace {
Text OnceADayLine(const QDateTime& now, const char* text) {
    return TimeText(now) + " : " + UsDate(now.date()) + " : " + text;
}
}   // namespace

Text DailyDisplayResetLine(const QDateTime& now) { return OnceADayLine(now, "Daily Display Reset."); }
Text DailyMaintenanceLine(const QDateTime& now) { return OnceADayLine(now, "Daily Maintenance Performed"); }
