#pragma once
// clsIPResolve: host name to dotted IPv4 address and back, on c-ares driven
// from the Qt event loop, so a lookup never holds up the other sessions.
// The name servers are the system's, or those of OSPRINE_NAMESERVERS
// ("ip[:port],..."). An answer arrives through its callback, always later
// than the call returns; none arrives once the instance is destroyed. The
// empty text is the only failure signal (not found, not started, time limit).
#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include "server/store/Text.h"

class QSocketNotifier;
struct ares_channeldata;

class clsIPResolve : public QObject {
    Q_OBJECT
public:
    using Answer = std::function<void(const Text& answer)>;
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

    // "10.0.0.1" -> its four bytes; false unless four parts each 0 to 255.
    static bool ParseDottedQuad(const Text& strIP, unsigned char bytes[4]);
    static Text DottedQuad(const unsigned char bytes[4]);

private:
    struct Notifiers {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };
    struct Query {
        Answer done;
        QTimer* limit = nullptr;
    };
    struct CallbackArg {
        clsIPResolve* self;
        quint64 id;
    };

    quint64 StartQuery(Answer done);
    void Finish(quint64 id, const Text& answer);
    void Deliver(Answer done, const Text& answer);
    void ProcessFd(int readFd, int writeFd);
    void ScheduleTimeout();
    void SocketState(int fd, bool readable, bool writable);

    static void OnSocketState(void* data, int fd, int readable, int writable);
    static void OnHostByName(void* arg, int status, int timeouts, struct hostent* host);
    static void OnHostByAddr(void* arg, int status, int timeouts, struct hostent* host);

    ares_channeldata* channel_ = nullptr;
    int timeLimitMs_ = kDefaultTimeLimitMs;
    quint64 nextId_ = 1;
    bool destroying_ = false;
    QHash<quint64, Query> queries_;
    QHash<int, Notifiers> notifiers_;
    QTimer aresTimer_;
};
