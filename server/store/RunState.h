#pragma once
// Program-wide values of the lifecycle, read by the sessions and the tray.
#include <QDateTime>
#include <cstdint>

struct RunState {
    int16_t ServerState = -2;   // -2 loading, 1 online, -1 closing
    int16_t AcceptLock = 1;     // 1 while a new connection may not be accepted
    QDateTime StartTime;
};
