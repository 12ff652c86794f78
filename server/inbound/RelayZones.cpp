#include "server/inbound/RelayZones.h"

#include "server/net/IPResolve.h"
#include "server/net/IpAddress.h"
#include "server/store/KeyedList.h"

#include <QDeadlineTimer>

namespace {

constexpr int kDayMs = 24 * 60 * 60 * 1000;
constexpr int64_t kHourMs = 60 * 60 * 1000;

bool InLoopbackNet(const Text& answer) {
    unsigned char bytes[4];
    return clsIPResolve::ParseDottedQuad(answer, bytes) && bytes[0] == 127;
}

int64_t NowMs() { return QDeadlineTimer::current().deadline(); }

}   // namespace

RelayZones::RelayZones(ServerContext& ctx, QObject* parent)
    : QObject(parent), ctx_(ctx), queryLimitMs_(clsIPResolve::kDefaultTimeLimitMs) {
    daily_.setInterval(kDayMs);
    connect(&daily_, &QTimer::timeout, this, &RelayZones::CheckZones);
}

RelayZones::~RelayZones() = default;

bool RelayZones::IsListing(const Text& answer) { return InLoopbackNet(answer) && !answer.startsWith("127.255.255."); }

bool RelayZones::IsForeign(const Text& answer) { return !answer.isEmpty() && !InLoopbackNet(answer); }

bool RelayZones::ReportForeignNow(const Text& zone) {
    const int64_t now = NowMs();
    auto last = foreignReported_.find(zone);
    if (last != foreignReported_.end() && now - *last < kHourMs) return false;
    foreignReported_.insert(zone, now);
    return true;
}

void RelayZones::CheckZones() {
    daily_.start();
    if (!On(ctx_.Settings().RelayEnable)) return;
    // A new round replaces one still under way; its late answers are ignored.
    ++round_;
    probes_.clear();
    resolver_ = std::make_unique<clsIPResolve>();
    resolver_->SetTimeLimit(queryLimitMs_);
    for (const Text& row : Explode(";", GetData("relaydb", ctx_.KeyedList()))) {
        const Text zone = LCase(Trim(row));
        if (zone.isEmpty() || probes_.contains(zone)) continue;
        probes_.insert(zone, Probe());
        const uint64_t round = round_;
        const std::pair<Question, Text> questions[] = {
            {Question::Test, "2.0.0.127."},
            {Question::Loopback, "1.0.0.127."},
            {Question::Ipv6Test, NibbleReversed("::ffff:7f00:2") + "."},
        };
        for (const auto& asked : questions) {
            const Question question = asked.first;   // a binding of its own: clang 14 cannot capture the pair's parts
            resolver_->NameToAddress(asked.second + zone, [this, round, zone, question](const Text& answer) {
                Answered(round, zone, question, Trim(answer));
            });
        }
    }
}

void RelayZones::Answered(uint64_t round, const Text& zone, Question question, const Text& answer) {
    if (round != round_) return;
    auto probe = probes_.find(zone);
    if (probe == probes_.end()) return;
    (question == Question::Test       ? probe->test
     : question == Question::Loopback ? probe->loopback
                                      : probe->ipv6Test) = answer;
    if (++probe->answers < 3) return;
    const Probe done = *probe;
    probes_.erase(probe);
    Judge(zone, done);
    JudgeIpv6(zone, done);
}

// Said when it changes, so the sysop (and a test) knows IPv6 clients are asked.
void RelayZones::JudgeIpv6(const Text& zone, const Probe& probe) {
    const bool lists = !outOfService_.contains(zone) && IsListing(probe.ipv6Test);
    if (lists == listsIpv6_.contains(zone)) return;
    if (lists)
        listsIpv6_.insert(zone);
    else
        listsIpv6_.remove(zone);
    ctx_.Log().ReportServer("Block list " + zone + (lists ? " lists IPv6 clients." : " does not list IPv6 clients."));
}

void RelayZones::Judge(const Text& zone, const Probe& probe) {
    Text reason;
    if (IsListing(probe.loopback) || IsForeign(probe.loopback))
        reason = "it answers for 127.0.0.1 (" + probe.loopback + "), so it would list every address";
    else if (!IsListing(probe.test))
        reason = probe.test.isEmpty() ? Text("it does not list the test address 127.0.0.2")
                                      : "it answers " + probe.test + " for the test address 127.0.0.2";
    if (reason.isEmpty()) {
        if (outOfService_.remove(zone) > 0) ctx_.Log().ReportServer("Block list " + zone + " is in service again.");
        return;
    }
    outOfService_.insert(zone, reason);
    ctx_.Log().ReportServer("Block list " + zone + " is out of service: " + reason + ".");
}
