#include "server/net/IPResolve.h"

#include "server/net/DnsRecords.h"

#include <ares.h>
#include <netdb.h>
#include <sys/socket.h>

#include <QSocketNotifier>
#include <algorithm>
#include <mutex>

namespace {

// c-ares's own retries stay well inside the usual ten-second limit; the
// per-query timer below is the hard bound whatever the servers do.
constexpr int kAresTimeoutMs = 2000;
constexpr int kAresTries = 2;
constexpr int kClassInternet = 1;

bool LibraryReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = ares_library_init(ARES_LIB_INIT_ALL) == ARES_SUCCESS; });
    return ready;
}

}   // namespace

clsIPResolve::clsIPResolve(QObject* parent) : QObject(parent) {
    aresTimer_.setSingleShot(true);
    connect(&aresTimer_, &QTimer::timeout, this, [this] { ProcessFd(ARES_SOCKET_BAD, ARES_SOCKET_BAD); });
    if (!LibraryReady()) return;

    ares_options options{};
    options.sock_state_cb = &clsIPResolve::OnSocketState;
    options.sock_state_cb_data = this;
    options.timeout = kAresTimeoutMs;
    options.tries = kAresTries;
    ares_channel channel = nullptr;
    if (ares_init_options(&channel, &options, ARES_OPT_SOCK_STATE_CB | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES) !=
        ARES_SUCCESS)
        return;

    const QByteArray servers = qgetenv("OSPRINE_NAMESERVERS").trimmed();
    if (!servers.isEmpty() && ares_set_servers_ports_csv(channel, servers.constData()) != ARES_SUCCESS) {
        // An unusable override must not fall back to servers nobody chose.
        ares_destroy(channel);
        return;
    }
    channel_ = channel;
}

clsIPResolve::~clsIPResolve() {
    destroying_ = true;
    if (channel_) ares_destroy(channel_);   // runs the pending callbacks with ARES_EDESTRUCTION
    for (const Notifiers& n : std::as_const(notifiers_)) {
        delete n.read;
        delete n.write;
    }
}

void clsIPResolve::NameToAddress(const Text& strName, Answer done) {
    const Text name = Trim(strName);
    const quint64 id = StartQuery(FirstRecord(std::move(done)));
    if (!channel_ || name.isEmpty() || name.contains('\0')) {
        Finish(id, DnsAnswer());
        return;
    }
    // A trailing dot makes the name absolute: no search domains are tried.
    const Text absolute = name.endsWith('.') ? name : name + '.';
    ares_gethostbyname(channel_, absolute.constData(), AF_INET, &clsIPResolve::OnHostByName, new CallbackArg{this, id});
    ScheduleTimeout();
}

void clsIPResolve::AddressToName(const Text& strIP, Answer done) {
    const quint64 id = StartQuery(FirstRecord(std::move(done)));
    unsigned char bytes[4];
    if (!channel_ || !ParseDottedQuad(strIP, bytes)) {
        Finish(id, DnsAnswer());
        return;
    }
    ares_gethostbyaddr(channel_, bytes, 4, AF_INET, &clsIPResolve::OnHostByAddr, new CallbackArg{this, id});
    ScheduleTimeout();
}

void clsIPResolve::Lookup(const Text& name, DnsType type, RecordsAnswer done) {
    const quint64 id = StartQuery(std::move(done));
    Text absolute = name;
    while (absolute.endsWith('.')) absolute.chop(1);
    // A name of more than 253 characters or with an empty or overlong label
    // cannot be asked for; c-ares would refuse it anyway.
    bool usable = channel_ && !absolute.isEmpty() && absolute.size() <= 253 && !absolute.contains('\0');
    for (const Text& label : absolute.split('.')) usable = usable && !label.isEmpty() && label.size() <= 63;
    if (!usable) {
        Finish(id, DnsAnswer());
        return;
    }
    ares_query(channel_, (absolute + '.').constData(), kClassInternet, int(type), &clsIPResolve::OnQuery,
               new CallbackArg{this, id, type});
    ScheduleTimeout();
}

bool clsIPResolve::ParseDottedQuad(const Text& strIP, unsigned char bytes[4]) {
    const TextList parts = Trim(strIP).split('.');
    if (parts.size() != 4) return false;
    for (int i = 0; i < 4; ++i) {
        const Text part = Trim(parts[i]);
        if (part.isEmpty()) return false;
        int value = 0;
        for (char c : part) {   // leading zeros are allowed: "010" is 10
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
            if (value > 255) return false;
        }
        bytes[i] = static_cast<unsigned char>(value);
    }
    return true;
}

Text clsIPResolve::DottedQuad(const unsigned char bytes[4]) {
    Text out;
    for (int i = 0; i < 4; ++i) {
        if (i) out += '.';
        out += Text::number(bytes[i]);
    }
    return out;
}

clsIPResolve::RecordsAnswer clsIPResolve::FirstRecord(Answer done) {
    return [done = std::move(done)](const DnsAnswer& answer) {
        if (done) done(answer.records.value(0));
    };
}

quint64 clsIPResolve::StartQuery(RecordsAnswer done) {
    const quint64 id = nextId_++;
    Query query;
    query.done = std::move(done);
    query.limit = new QTimer(this);
    query.limit->setSingleShot(true);
    query.limit->setTimerType(Qt::PreciseTimer);
    connect(query.limit, &QTimer::timeout, this, [this, id] { Finish(id, DnsAnswer()); });
    query.limit->start(std::max(0, timeLimitMs_));
    queries_.insert(id, std::move(query));
    return id;
}

void clsIPResolve::Finish(quint64 id, const DnsAnswer& answer) {
    auto it = queries_.find(id);
    if (it == queries_.end()) return;   // already answered (time limit reached first)
    Query query = std::move(it.value());
    queries_.erase(it);
    query.limit->stop();
    query.limit->deleteLater();
    Deliver(std::move(query.done), answer);
}

void clsIPResolve::Deliver(RecordsAnswer done, const DnsAnswer& answer) {
    // Never call back from inside c-ares or from inside the caller's own
    // call: the receiver may well destroy this resolver in its callback.
    QMetaObject::invokeMethod(
        this,
        [done = std::move(done), answer] {
            if (done) done(answer);
        },
        Qt::QueuedConnection);
}

void clsIPResolve::ProcessFd(int readFd, int writeFd) {
    if (!channel_) return;
    ares_process_fd(channel_, readFd, writeFd);
    ScheduleTimeout();
}

void clsIPResolve::ScheduleTimeout() {
    if (!channel_) return;
    timeval tv{};
    if (!ares_timeout(channel_, nullptr, &tv)) {
        aresTimer_.stop();
        return;
    }
    const qint64 ms = qint64(tv.tv_sec) * 1000 + (tv.tv_usec + 999) / 1000;
    aresTimer_.start(int(std::clamp<qint64>(ms, 0, 60000)));
}

void clsIPResolve::SocketState(int fd, bool readable, bool writable) {
    Notifiers& n = notifiers_[fd];
    auto update = [this, fd](QSocketNotifier*& notifier, bool wanted, QSocketNotifier::Type type) {
        if (wanted && !notifier) {
            notifier = new QSocketNotifier(fd, type, this);
            const bool isRead = type == QSocketNotifier::Read;
            connect(notifier, &QSocketNotifier::activated, this,
                    [this, fd, isRead] { isRead ? ProcessFd(fd, ARES_SOCKET_BAD) : ProcessFd(ARES_SOCKET_BAD, fd); });
        } else if (!wanted && notifier) {
            // This may run inside the notifier's own signal: retire it later.
            notifier->setEnabled(false);
            notifier->deleteLater();
            notifier = nullptr;
        }
    };
    update(n.read, readable, QSocketNotifier::Read);
    update(n.write, writable, QSocketNotifier::Write);
    if (!n.read && !n.write) notifiers_.remove(fd);
}

void clsIPResolve::OnSocketState(void* data, int fd, int readable, int writable) {
    auto* self = static_cast<clsIPResolve*>(data);
    if (!self->destroying_) self->SocketState(fd, readable != 0, writable != 0);
}

void clsIPResolve::OnHostByName(void* arg, int status, int, struct hostent* host) {
    std::unique_ptr<CallbackArg> a(static_cast<CallbackArg*>(arg));
    if (a->self->destroying_) return;
    DnsAnswer answer;
    if (status == ARES_SUCCESS && host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list &&
        host->h_addr_list[0]) {
        answer.status = DnsStatus::Found;
        answer.records << DottedQuad(reinterpret_cast<const unsigned char*>(host->h_addr_list[0]));
    }
    a->self->Finish(a->id, answer);
}

void clsIPResolve::OnHostByAddr(void* arg, int status, int, struct hostent* host) {
    std::unique_ptr<CallbackArg> a(static_cast<CallbackArg*>(arg));
    if (a->self->destroying_) return;
    DnsAnswer answer;
    if (status == ARES_SUCCESS && host && host->h_name) {
        answer.status = DnsStatus::Found;
        answer.records << Text(host->h_name, int(qstrnlen(host->h_name, 255)));
    }
    a->self->Finish(a->id, answer);
}

void clsIPResolve::OnQuery(void* arg, int status, int, unsigned char* abuf, int alen) {
    std::unique_ptr<CallbackArg> a(static_cast<CallbackArg*>(arg));
    if (a->self->destroying_) return;
    a->self->Finish(a->id, ReadDnsAnswer(status, a->type, abuf, alen));
}
