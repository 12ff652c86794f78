#pragma once
// The DNS block-list test of one client address: each zone of "relaydb"
// that is in service (and, for an IPv6 client, lists IPv6) is asked in turn
// for the reversed address; an answer
// inside 127.0.0.0/8 means "listed". Each zone's step is reported in the
// event window and the event log.
#include <QObject>
#include <functional>
#include <memory>
#include "server/bbs/ServerContext.h"

class clsIPResolve;
class RelayZones;

class RelayTest : public QObject {
    Q_OBJECT
public:
    // `alive` says whether the session still waits for the answer; the test
    // stops (passed) once it does not. `done` is called once, later.
    RelayTest(ServerContext& ctx, RelayZones& zones, int16_t slot, const Text& address, int queryLimitMs,
              std::function<bool()> alive, std::function<void(bool passed)> done);
    ~RelayTest() override;

    void Start();

    // "1.2.3.4" -> "4.3.2.1"; an IPv6 address by its nibbles (RFC 5782, 2.4).
    static Text ReversedName(const Text& address);

private:
    void NextZone();
    void Answered(const Text& zone, const Text& answer);
    void Finish(bool passed);
    template <typename Step>
    void Guarded(Step step);

    ServerContext& ctx_;
    RelayZones& zones_;
    int16_t slot_;
    Text address_;
    Text reversed_;
    int queryLimitMs_;
    std::function<bool()> alive_;
    std::function<void(bool)> done_;
    TextList zoneRows_;
    qsizetype next_ = 0;
    std::unique_ptr<clsIPResolve> resolver_;
    bool finished_ = false;
};
