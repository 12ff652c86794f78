#include "server/auth/CachedDns.h"

#include <QPointer>
#include <algorithm>

CachedDns::CachedDns(QObject* parent) : QObject(parent), resolver_(this) {}

void CachedDns::Lookup(const Text& name, DnsType type, clsIPResolve::RecordsAnswer done) {
    Text lower = name.toLower();
    while (lower.endsWith('.')) lower.chop(1);
    const QByteArray key = QByteArray::number(int(type)) + ' ' + lower;
    if (auto it = cache_.constFind(key); it != cache_.constEnd()) {
        if (!it->expires.hasExpired()) {
            QMetaObject::invokeMethod(
                this, [done = std::move(done), answer = it->answer] { done(answer); }, Qt::QueuedConnection);
            return;
        }
        cache_.erase(it);
    }
    ++queries_;
    QPointer<CachedDns> self(this);
    resolver_.Lookup(lower, type, [self, key, done = std::move(done)](const DnsAnswer& answer) {
        if (self) self->Remember(key, answer);
        done(answer);
    });
}

void CachedDns::Remember(const QByteArray& key, const DnsAnswer& answer) {
    if (answer.status == DnsStatus::Failed) return;
    const quint32 ttl = answer.status == DnsStatus::Found ? std::min(answer.ttl, kMaxTtl) : kNegativeTtl;
    if (ttl == 0) return;
    if (cache_.size() >= kMaxEntries) {
        // Full: the expired entries go; if that is not enough, all of them.
        for (auto it = cache_.begin(); it != cache_.end();) it = it->expires.hasExpired() ? cache_.erase(it) : ++it;
        if (cache_.size() >= kMaxEntries) cache_.clear();
    }
    cache_.insert(key, Entry{answer, QDeadlineTimer(qint64(ttl) * 1000)});
}
