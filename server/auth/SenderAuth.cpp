#include "server/auth/SenderAuth.h"

#include "server/auth/DkimCanon.h"
#include "server/auth/DkimSignature.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <algorithm>

struct SenderAuth::Running {
    AuthVerdict verdict;
    bool spfDone = false, dkimDone = false, finished = false;
    std::function<void(const AuthVerdict&)> done;
    QDeadlineTimer deadline;
    std::function<void()> overdue;   // what the time limit settles
};

namespace {

using Running = SenderAuth::Running;

// A temperror for every signature, as when their keys never came.
QList<DkimOutcome> PendingSignatures(const QList<HeaderField>& fields) {
    QList<DkimOutcome> out;
    for (const HeaderField& f : fields) {
        if (f.name.toLower() != "dkim-signature" || out.size() >= kMaxDkimSignatures) continue;
        DkimOutcome o;
        o.result = DkimResult::TempError;
        o.reason = "time limit";
        if (const auto sig = ParseDkimSignature(f.raw.mid(f.raw.indexOf(':') + 1))) {
            o.domain = sig->domain;
            o.selector = sig->selector;
            o.bPrefix = sig->rawSignature.left(8);
        }
        out << o;
    }
    return out;
}

void Complete(const std::shared_ptr<Running>& run) {
    if (run->finished) return;
    run->finished = true;
    run->done(run->verdict);
}

// A value of Authentication-Results: a token as it is, else quoted.
Text PropertyValue(const Text& value) {
    static constexpr QByteArrayView kSpecials = "()<>,;:\\\"[]";
    bool plain = !value.isEmpty();
    for (char c : value)
        if (c <= ' ' || c >= 0x7f || kSpecials.contains(c)) plain = false;
    if (plain) return value;
    Text quoted = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') quoted += '\\';
        if (c >= ' ' && c < 0x7f) quoted += c;
    }
    return quoted + '"';
}

Text SpfPart(const AuthVerdict& v) {
    Text part = "spf=" + SpfResultName(v.spf);
    if (!v.envelope.sender.isEmpty()) return part + " smtp.mailfrom=" + PropertyValue(v.envelope.sender);
    return part + " smtp.helo=" + PropertyValue(v.envelope.helo);
}

Text DkimPart(const DkimOutcome& d) {
    Text part = "dkim=" + DkimResultName(d.result);
    if (d.length) part += " (l=" + Text::number(*d.length) + ")";
    if (!d.reason.isEmpty() && d.result != DkimResult::Pass) part += " (" + d.reason + ")";
    if (!d.domain.isEmpty()) part += " header.d=" + PropertyValue(d.domain);
    if (!d.selector.isEmpty()) part += " header.s=" + PropertyValue(d.selector);
    if (!d.bPrefix.isEmpty()) part += " header.b=" + PropertyValue(d.bPrefix);
    return part;
}

Text DmarcPart(const DmarcOutcome& d) {
    Text part = "dmarc=" + DmarcResultName(d.result);
    if (d.record) part += " (p=" + PolicyName(d.policy) + " dis=" + PolicyName(d.disposition) + ")";
    if (!d.fromDomain.isEmpty()) part += " header.from=" + PropertyValue(d.fromDomain);
    return part;
}

// The authserv-id of an Authentication-Results value: its first word.
Text AuthservId(QByteArrayView value) {
    qsizetype from = 0;
    while (from < value.size() &&
           (value[from] == ' ' || value[from] == '\t' || value[from] == '\r' || value[from] == '\n'))
        ++from;
    qsizetype to = from;
    while (to < value.size() && value[to] != ';' && value[to] != ' ' && value[to] != '\t' && value[to] != '\r' &&
           value[to] != '\n' && value[to] != '(')
        ++to;
    return value.sliced(from, to - from).toByteArray().toLower();
}

}   // namespace

SenderAuth::SenderAuth(QObject* parent) : QObject(parent), dns_(this) {
    limit_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, &SenderAuth::EndOverdue);
}

void SenderAuth::EndOverdue() {
    while (!pending_.empty()) {
        const std::shared_ptr<Running> run = pending_.front().lock();
        if (run && !run->finished && !run->deadline.hasExpired()) break;
        pending_.pop_front();
        if (run && !run->finished) run->overdue();
    }
    ArmLimit();
}

void SenderAuth::ArmLimit() {
    // Runs that ended in time are dropped from the front as they are met.
    while (!pending_.empty()) {
        const std::shared_ptr<Running> run = pending_.front().lock();
        if (run && !run->finished) {
            if (!limit_.isActive()) limit_.start(int(std::max<qint64>(0, run->deadline.remainingTime())));
            return;
        }
        pending_.pop_front();
    }
    limit_.stop();
}

void SenderAuth::Check(const AuthRequest& request, std::function<void(const AuthVerdict&)> done) {
    auto run = std::make_shared<Running>();
    run->verdict.envelope = request.spf;
    run->verdict.spfDomain = SpfDomain(request.spf);
    run->done = std::move(done);
    run->deadline = QDeadlineTimer(timeLimitMs_);
    const Text message = request.message;
    // The header is taken apart once for every check of the message.
    const QList<HeaderField> fields = SplitForDkim(message).fields;
    const Text fromDomain = FromDomain(fields);
    run->overdue = [run = std::weak_ptr<Running>(run), fields, fromDomain] {
        const std::shared_ptr<Running> r = run.lock();
        if (!r) return;
        if (!r->spfDone) r->verdict.spf = SpfResult::TempError;
        if (!r->dkimDone) r->verdict.dkim = PendingSignatures(fields);
        r->verdict.dmarc = DmarcWithout(DmarcResult::TempError, fromDomain);
        Complete(r);
    };
    pending_.push_back(run);
    ArmLimit();

    const auto dmarcWhenReady = [this, run, fromDomain] {
        if (!run->spfDone || !run->dkimDone || run->finished) return;
        const DmarcRequest dmarc{fromDomain, run->verdict.spf, run->verdict.spfDomain, run->verdict.dkim};
        CheckDmarc(dns_, dmarc, int(QRandomGenerator::global()->bounded(100)), [run](DmarcOutcome outcome) {
            if (run->finished) return;
            run->verdict.dmarc = std::move(outcome);
            Complete(run);
        });
    };
    CheckSpf(dns_, request.spf, [run, dmarcWhenReady](SpfResult spf) {
        if (run->finished) return;
        run->verdict.spf = spf;
        run->spfDone = true;
        dmarcWhenReady();
    });
    VerifyDkim(dns_, message, fields, QDateTime::currentSecsSinceEpoch(),
               [run, dmarcWhenReady](QList<DkimOutcome> dkim) {
                   if (run->finished) return;
                   run->verdict.dkim = std::move(dkim);
                   run->dkimDone = true;
                   dmarcWhenReady();
               });
}

Text AuthenticationResults(const Text& authservId, const AuthVerdict& verdict) {
    TextList parts{SpfPart(verdict)};
    if (verdict.dkim.isEmpty()) parts << "dkim=none";
    for (const DkimOutcome& d : verdict.dkim) parts << DkimPart(d);
    parts << DmarcPart(verdict.dmarc);
    return "Authentication-Results: " + authservId + ";\r\n\t" + parts.join(";\r\n\t") + "\r\n";
}

void RemoveForgedAuthenticationResults(HeaderView& header, const Text& authservId) {
    const Text ours = authservId.toLower();
    header.RemoveIf([&](const HeaderField& f) {
        return f.name.toLower() == "authentication-results" &&
               AuthservId(QByteArrayView(f.raw).sliced(f.colon + 1)) == ours;
    });
}
