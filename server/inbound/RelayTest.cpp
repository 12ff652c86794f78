#include "server/inbound/RelayTest.h"

#include "server/inbound/RelayZones.h"
#include "server/net/IPResolve.h"
#include "server/net/IpAddress.h"
#include "server/store/ErrorLog.h"
#include "server/store/KeyedList.h"
#include "server/store/Version.h"

#include <exception>

RelayTest::RelayTest(ServerContext& ctx, RelayZones& zones, int16_t slot, const Text& address, int queryLimitMs,
                     std::function<bool()> alive, std::function<void(bool passed)> done)
    : ctx_(ctx),
      zones_(zones),
      slot_(slot),
      address_(Trim(address)),
      queryLimitMs_(queryLimitMs),
      alive_(std::move(alive)),
      done_(std::move(done)) {}

RelayTest::~RelayTest() = default;

void RelayTest::Start() {
    if (address_.isEmpty()) {
        Finish(true);
        return;
    }
    Guarded([this] {
        ctx_.Log().Report(slot_, "Relay Blocker is checking " + address_);
        reversed_ = ReversedName(address_);
        zoneRows_ = Explode(";", GetData("relaydb", ctx_.KeyedList()));
        NextZone();
    });
}

// A fault anywhere in the test counts as a listing.
template <typename Step>
void RelayTest::Guarded(Step step) {
    try {
        step();
    } catch (const std::exception& e) {   // Qt, std::bad_alloc in the test: the client counts as listed
        LogError("CheckRelayTest", kVersion, "frmMain", e.what());
        Finish(false);
    }
}

Text RelayTest::ReversedName(const Text& address) {
    if (IsIpv6Text(address)) return NibbleReversed(address);
    const TextList p = Explode(".", address, 4, 4);
    return Trim(p[3]) + "." + Trim(p[2]) + "." + Trim(p[1]) + "." + Trim(p[0]);
}

void RelayTest::NextZone() {
    while (next_ < zoneRows_.size()) {
        if (!alive_()) {
            Finish(true);
            return;
        }
        const Text zone = LCase(Trim(zoneRows_[next_++]));
        if (zone.isEmpty()) continue;
        if (!zones_.InService(zone)) {
            ctx_.Log().Report(slot_, "* " + zone + " - out of service, not asked");
            continue;
        }
        if (IsIpv6Text(address_) && !zones_.ListsIpv6(zone)) {
            ctx_.Log().Report(slot_, "* " + zone + " - lists no IPv6 clients, not asked");
            continue;
        }
        if (!resolver_) {
            resolver_ = std::make_unique<clsIPResolve>();
            resolver_->SetTimeLimit(queryLimitMs_);
        }
        resolver_->NameToAddress(reversed_ + "." + zone,
                                 [this, zone](const Text& answer) { Guarded([&] { Answered(zone, answer); }); });
        return;
    }
    Finish(true);
}

void RelayTest::Answered(const Text& zone, const Text& answer) {
    if (!alive_()) {
        Finish(true);
        return;
    }
    const Text address = Trim(answer);
    if (RelayZones::IsListing(address)) {
        ctx_.Log().Report(slot_, "* " + zone + " - failed");
        Finish(false);
        return;
    }
    // Outside 127.0.0.0/8 no list answers: a resolver that makes up
    // addresses for unknown names. It passes, and the sysop hears of it.
    if (RelayZones::IsForeign(address) && zones_.ReportForeignNow(zone))
        ctx_.Log().ReportServer("Block list " + zone + " answered " + address +
                                ", outside 127.0.0.0/8: no listing, the client passes.");
    ctx_.Log().Report(slot_, "* " + zone + " - passed");
    NextZone();
}

void RelayTest::Finish(bool passed) {
    if (finished_) return;
    finished_ = true;
    // The resolver goes with the test; the answer is delivered from the loop,
    // so the receiver may destroy this test when it arrives.
    QMetaObject::invokeMethod(
        this,
        [this, passed] {
            auto done = std::move(done_);
            if (done) done(passed);
        },
        Qt::QueuedConnection);
}
