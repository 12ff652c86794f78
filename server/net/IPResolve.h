#pragma once
// clsIPResolve: host name to dotted IPv4 address and back, on c-ares driven
// from the Qt event loop, so a lookup never holds up the other sessions.
// The name servers are the system's, or those of OSPRINE_NAMESERVERS
// ("ip[:port],..."). An answer arrives through its callback, always later
// than the call returns; none arrives once the instance is destroyed. For
// the two host look-ups the empty text is the only failure signal (not
// found, not started, time limit); Lookup tells the three outcomes apart.
#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include "server/store/Text.h"

class QSocketNotifier;
struct ares_channeldata;

// The record types Lookup asks for (their DNS type numbers).
enum class DnsType : int { A = 1, PTR = 12, MX = 15, TXT = 16, AAAA = 28 };

enum class DnsStatus {
    Found,    // at least one record of the type
    NoData,   // the name does not exist, or has no record of the type
    Failed,   // server failure, refusal, no server reachable, time limit, bad name
};

struct DnsAnswer {
    DnsStatus status = DnsStatus::Failed;
    bool noSuchName = false;   // NoData because the name does not exist (NXDOMAIN)
    // A: dotted quads; AAAA: RFC 5952 text; MX: exchanges, lowest preference
    // first; PTR: names; TXT: each record's strings joined without a gap.
    QList<Text> records;
    quint32 ttl = 0;   // the smallest TTL of the records (seconds); 0 when none
};

class clsIPResolve : public QObject {
    Q_OBJECT
public:
    using Answer = std::function<void(const Text& answer)>;
    using RecordsAnswer = std::function<void(const DnsAnswer& answer)>;
    static constexpr int kDefaultTimeLimitMs = 10000;

    explicit clsIPResolve(QObject* parent = nullptr);
    ~clsIPResolve() override;

    // The resolver library and the name server list were set up.
    bool Started() const { return channel_ != nullptr; }
    // Longest time one query may take before it answers "" (milliseconds).
    void SetTimeLimit(int ms) { timeLimitMs_ = ms; }
    int TimeLimit() const { return timeLimitMs_; }

    // Dotted form of the first IPv4 address of the host.
    void NameToAddress(const Text& strName, Answer done);
    // The official host name of a dotted IPv4 address.
    void AddressToName(const Text& strIP, Answer done);
    // The records of one type for a name (taken as absolute: no search list).
    void Lookup(const Text& name, DnsType type, RecordsAnswer done);

    // "10.0.0.1" -> its four bytes; false unless four parts each 0 to 255.
    static bool ParseDottedQuad(const Text& strIP, unsigned char bytes[4]);
    static Text DottedQuad(const unsigned char bytes[4]);

private:
    struct Notifiers {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };
    struct Query {
        RecordsAnswer done;
        QTimer* limit = nullptr;
    };
    struct CallbackArg {
        clsIPResolve* self;
        quint64 id;
        DnsType type = DnsType::A;
    };

    quint64 StartQuery(RecordsAnswer done);
    static RecordsAnswer FirstRecord(Answer done);
    void Finish(quint64 id, const DnsAnswer& answer);
    void Deliver(RecordsAnswer done, const DnsAnswer& answer);
    void ProcessFd(int readFd, int writeFd);
    void ScheduleTimeout();
    void SocketState(int fd, bool readable, bool writable);

    static void OnSocketState(void* data, int fd, int readable, int writable);
    static void OnHostByName(void* arg, int status, int timeouts, struct hostent* host);
    static void OnHostByAddr(void* arg, int status, int timeouts, struct hostent* host);
    static void OnQuery(void* arg, int status, int timeouts, unsigned char* abuf, int alen);

    ares_channeldata* channel_ = nullptr;
    int timeLimitMs_ = kDefaultTimeLimitMs;
    quint64 nextId_ = 1;
    bool destroying_ = false;
    QHash<quint64, Query> queries_;
    QHash<int, Notifiers> notifiers_;
    QTimer aresTimer_;
};
