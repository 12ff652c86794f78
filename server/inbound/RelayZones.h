#pragma once
// The state of the DNS block-list zones of "relaydb". A zone is asked about
// clients only while it behaves as RFC 5782 (section 5) says a list must:
// the test address 127.0.0.2 listed, 127.0.0.1 not. A zone that has been
// shut down and now lists everybody, or a resolver that answers every name
// with its own address, would otherwise refuse every client. The zones are
// checked at start-up and then once a day; an unchecked zone is in service.
// The same check tells which zones list IPv6 clients: those that list the
// IPv6 test entry ::FFFF:7F00:2 (RFC 5782, section 5). Only they are asked
// about an IPv6 client.
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <memory>
#include "server/bbs/ServerContext.h"

class clsIPResolve;

class RelayZones : public QObject {
    Q_OBJECT
public:
    explicit RelayZones(ServerContext& ctx, QObject* parent = nullptr);
    ~RelayZones() override;

    // Checks every zone now (with setting RelayEnable = 1), and again a day later.
    void CheckZones();
    void SetQueryLimit(int ms) { queryLimitMs_ = ms; }

    bool InService(const Text& zone) const { return !outOfService_.contains(LCase(Trim(zone))); }
    // The zone's last check found the IPv6 test entry listed.
    bool ListsIpv6(const Text& zone) const { return listsIpv6_.contains(LCase(Trim(zone))); }
    // Zone -> why it is out of service.
    const QHash<Text, Text>& OutOfService() const { return outOfService_; }

    // An answer inside 127.0.0.0/8, but not one of a zone's own error
    // signals in 127.255.255.0/24.
    static bool IsListing(const Text& answer);
    // An answer that is no listing at all: outside 127.0.0.0/8.
    static bool IsForeign(const Text& answer);
    // True at most once an hour per zone: whether an answer outside
    // 127.0.0.0/8 is to be reported now.
    bool ReportForeignNow(const Text& zone);

private:
    enum class Question { Test, Loopback, Ipv6Test };
    struct Probe {
        int answers = 0;
        Text test;       // the answer for 127.0.0.2
        Text loopback;   // the answer for 127.0.0.1
        Text ipv6Test;   // the answer for ::FFFF:7F00:2
    };
    void Answered(uint64_t round, const Text& zone, Question question, const Text& answer);
    void Judge(const Text& zone, const Probe& probe);
    void JudgeIpv6(const Text& zone, const Probe& probe);

    ServerContext& ctx_;
    int queryLimitMs_;
    uint64_t round_ = 0;
    std::unique_ptr<clsIPResolve> resolver_;
    QHash<Text, Probe> probes_;
    QHash<Text, Text> outOfService_;
    QSet<Text> listsIpv6_;
    QHash<Text, int64_t> foreignReported_;   // zone -> monotonic ms of the last report
    QTimer daily_;
};
