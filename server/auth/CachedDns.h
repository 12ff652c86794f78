#pragma once
// The look-ups of sender authentication: the server's resolver behind a
// cache that keeps each answer for its records' TTL (a negative answer for a
// minute, a failure not at all), bounded in size.
#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include "server/net/IPResolve.h"

class CachedDns : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxEntries = 20000;
    static constexpr quint32 kNegativeTtl = 60;
    static constexpr quint32 kMaxTtl = 86400;

    explicit CachedDns(QObject* parent = nullptr);

    // As clsIPResolve::Lookup; a cached answer comes later than the call too.
    void Lookup(const Text& name, DnsType type, clsIPResolve::RecordsAnswer done);
    // How many queries went to a name server.
    quint64 Queries() const { return queries_; }
    void SetTimeLimit(int ms) { resolver_.SetTimeLimit(ms); }

private:
    struct Entry {
        DnsAnswer answer;
        QDeadlineTimer expires;
    };
    void Remember(const QByteArray& key, const DnsAnswer& answer);

    clsIPResolve resolver_;
    QHash<QByteArray, Entry> cache_;
    quint64 queries_ = 0;
};
