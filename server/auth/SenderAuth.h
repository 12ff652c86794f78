#pragma once
// Sender authentication of one received message: SPF for the envelope,
// DKIM for its signatures, DMARC for its From domain, within one time limit.
// What is still pending when the limit is reached counts as temperror.
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include "server/auth/CachedDns.h"
#include "server/auth/DmarcCheck.h"

struct AuthRequest {
    Text message;   // as received, dot-stuffing undone, lines ended by CR LF
    SpfRequest spf;
};

struct AuthVerdict {
    SpfRequest envelope;
    Text spfDomain;
    SpfResult spf = SpfResult::None;
    QList<DkimOutcome> dkim;
    DmarcOutcome dmarc;
};

class SenderAuth : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeLimitMs = 10000;

    explicit SenderAuth(QObject* parent = nullptr);

    // `done` comes once, later than the call and at most the time limit after it.
    void Check(const AuthRequest& request, std::function<void(const AuthVerdict&)> done);
    void SetTimeLimit(int ms) { timeLimitMs_ = ms; }
    quint64 Queries() const { return dns_.Queries(); }

    // One message's checks while they run.
    struct Running;

private:
    // Ends the runs whose time is up and sets the timer for the next one.
    void EndOverdue();
    void ArmLimit();

    CachedDns dns_;
    int timeLimitMs_ = kTimeLimitMs;
    // Every run gets the same time limit, so they end in the order they
    // began: one timer, set for the oldest pending run, serves them all.
    std::deque<std::weak_ptr<Running>> pending_;
    QTimer limit_;
};

// The Authentication-Results header (RFC 8601) of a verdict, folded, each
// line ended by CR LF.
Text AuthenticationResults(const Text& authservId, const AuthVerdict& verdict);

// Takes out the Authentication-Results fields that claim `authservId` (a
// forger's; RFC 8601 section 5).
void RemoveForgedAuthenticationResults(HeaderView& header, const Text& authservId);
