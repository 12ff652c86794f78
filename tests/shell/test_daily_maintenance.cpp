#include "server/shell/DailyMaintenance.h"
#include "tests/inbound/InboundServerFixture.h"

namespace {
const QDate kToday(2006, 7, 11);
}

TEST(MaintenanceDue, OncePerDayWhileSwitchedOnAndIdle) {
    SettingsRecord s;
    s.DailyMaint = 1;
    s.LastMaintDate = "060710";
    EXPECT_TRUE(MaintenanceDue(s, false, kToday));
    EXPECT_FALSE(MaintenanceDue(s, true, kToday));
    s.LastMaintDate = " 060711 ";
    EXPECT_FALSE(MaintenanceDue(s, false, kToday));
    s.LastMaintDate = "991231";   // any other date, older or not
    EXPECT_TRUE(MaintenanceDue(s, false, kToday));
    s.DailyMaint = 0;
    EXPECT_FALSE(MaintenanceDue(s, false, kToday));
}

using SessionBusyTest = InboundServerTest;

TEST_F(SessionBusyTest, AnOpenSessionIsBusyUntilItIsTimedOut) {
    StartServer();
    EXPECT_FALSE(SessionBusy(*server));
    auto client = Greeted();
    EXPECT_TRUE(SessionBusy(*server));
    now += 121 * 1000;
    Timer2();
    // The tick that timed the session out has freed its slot: the
    // maintenance need not wait for the next tick.
    EXPECT_EQ(client->ReadLine(), Text("221 Timeout."));
    EXPECT_FALSE(server->IsActive());
    EXPECT_FALSE(SessionBusy(*server));
}

TEST_F(SessionBusyTest, APeerThatLeftHoldsNothingUp) {
    StartServer();
    auto client = Greeted();
    EXPECT_EQ(client->Ask("QUIT").value_or(""), "221 Have a nice day!");
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_TRUE(RunEventsUntil([&] { return server->Slot(1).use != SlotUse::Open; }));
    EXPECT_FALSE(SessionBusy(*server));
}

TEST(OnceADayLines, TimeDateAndText) {
    const QDateTime t(QDate(2006, 7, 1), QTime(0, 0, 5));
    EXPECT_EQ(DailyDisplayResetLine(t), "00:00:05 : 07/01/2006 : Daily Display Reset.");
    EXPECT_EQ(DailyMaintenanceLine(t), "00:00:05 : 07/01/2006 : Daily Maintenance Performed");
}
