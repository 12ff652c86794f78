#pragma once
// Program-wide values of the lifecycle, read by the sessions and the tray.
#include <QDateTime>
#include <cstdint>

// The values of ServerState, as the tray and the status word know them.
enum class ServerPhase : int16_t {
    Loading = -2,   // start-up has not finished
    Closing = -1,   // shut-down has begun: nothing new is started
    Stopped = 0,
    Online = 1,
    Offline = 2,
};

// AcceptLock: one new session per tick of Timer1. The tick opens the gate;
// admitting a connection closes it (101 while a slot is sought, then the
// slot's number) until the next tick. Start-up holds it closed (1). A sysop
// may let more sessions in per tick (`perTick`, 0: no limit); the gate then
// closes on the last of them.
class AcceptGate {
public:
    bool IsOpen() const { return value_ <= 0; }
    void OpenForTick(int perTick = 1) {
        value_ = 0;
        left_ = perTick;
    }
    void Hold() { value_ = 1; }
    void Seeking() { value_ = 101; }
    void TakenBy(int16_t slot) {
        if (left_ == 1) {
            value_ = slot;
            return;
        }
        value_ = 0;
        if (left_ > 1) --left_;
    }
    int16_t Value() const { return value_; }

private:
    int16_t value_ = 1;
    int left_ = 1;   // admissions left in this tick; 0: no limit
};

struct RunState {
    ServerPhase ServerState = ServerPhase::Loading;
    AcceptGate AcceptLock;
    QDateTime StartTime;

    bool Online() const { return ServerState == ServerPhase::Online; }
    bool Closing() const { return ServerState == ServerPhase::Closing; }
};
