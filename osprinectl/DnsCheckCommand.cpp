#include "osprinectl/DnsCheckCommand.h"
#include <QEventLoop>
#include <QHostAddress>
#include <memory>
#include "osprinectl/Output.h"
#include "server/auth/CachedDns.h"
#include "server/auth/DkimKey.h"
#include "server/auth/DkimSigningKey.h"
#include "server/auth/DmarcCheck.h"
#include "server/auth/DmarcRecord.h"
#include "server/auth/SpfCheck.h"
#include "server/auth/SpfRecord.h"
#include "server/outbound/OutboundSigning.h"

const char* const kDnsCheckHelp =
    "Usage: osprinectl [-d DIR] dnscheck\n"
    "Asks DNS (the system's resolver, or OSPRINE_NAMESERVERS=ip[:port],...) what receivers\n"
    "check of the BBS's mail, one line per item with what it found:\n"
    "  MX     the mail exchangers of the Internet system id\n"
    "  SPF    the system id's SPF record, and whether it lets the smart host (ClientHost) send\n"
    "  DKIM   the key record at dkimselector._domainkey.dkimdomain, and whether it is dkimkey's\n"
    "  DMARC  the policy record of the system id (or of its organisational domain)\n"
    "Each is pass, fail or missing. Exit status 0 when all pass, 1 otherwise.\n";

namespace {

enum class Verdict { Pass, Fail, Missing };

struct Line {
    Text item;   // "MX bbs.example"
    Verdict verdict = Verdict::Fail;
    Text found;
};

Text VerdictName(Verdict v) { return v == Verdict::Pass ? "pass" : v == Verdict::Fail ? "fail" : "missing"; }

Text Quoted(const Text& text) { return '"' + text + '"'; }

// A look-up that did not answer.
Line Unanswered(const Text& item) { return {item, Verdict::Fail, "no answer from the name server"}; }

// The four checks run side by side on one resolver; each fills its line.
class DnsCheck {
public:
    DnsCheck(const Installation& inst) : inst_(inst) {
        systemId_ = LCase(Trim(GetSystemId(inst.bbs)));
        signing_ = LoadDkimSettings(inst.KeyedList());
        smartHost_ = Trim(inst.LoadSettings().ClientHost);
    }

    int Run() {
        QEventLoop loop;
        done_ = [&loop] { loop.quit(); };
        pending_ = 4;
        lines_.resize(4);
        CheckMx(0);
        CheckSpfRecord(1);
        CheckDkimKey(2);
        CheckDmarcRecord(3);
        if (pending_ > 0) loop.exec();
        bool allPass = true;
        for (const Line& l : lines_) {
            ctl::Out(l.item + ": " + VerdictName(l.verdict) + ": " + l.found);
            allPass = allPass && l.verdict == Verdict::Pass;
        }
        return allPass ? 0 : 1;
    }

private:
    void Set(int index, Line line) {
        lines_[index] = std::move(line);
        if (--pending_ == 0) done_();
    }

    void CheckMx(int index) {
        const Text item = "MX " + systemId_;
        dns_.Lookup(systemId_, DnsType::MX, [=, this](const DnsAnswer& a) {
            if (a.status == DnsStatus::Failed) return Set(index, Unanswered(item));
            if (a.records.isEmpty()) return Set(index, {item, Verdict::Missing, "no MX record"});
            Set(index, {item, Verdict::Pass, a.records.join(", ")});
        });
    }

    void CheckSpfRecord(int index) {
        const Text item = "SPF " + systemId_;
        dns_.Lookup(systemId_, DnsType::TXT, [=, this](const DnsAnswer& a) {
            if (a.status == DnsStatus::Failed) return Set(index, Unanswered(item));
            TextList spf;
            for (const Text& txt : a.records)
                if (IsSpfRecord(txt)) spf << txt;
            if (spf.isEmpty()) return Set(index, {item, Verdict::Missing, "no SPF record"});
            if (spf.size() > 1)
                return Set(index, {item, Verdict::Fail, NumText(spf.size()) + " SPF records (one only)"});
            SmartHostAddresses([=, this](const TextList& addresses) { JudgeSpf(index, item, spf.first(), addresses); });
        });
    }

    // The smart host's addresses: ClientHost itself when it is one, else
    // its A and AAAA records.
    void SmartHostAddresses(std::function<void(TextList)> done) {
        if (smartHost_.isEmpty()) return done({});
        if (!QHostAddress(QString::fromLatin1(smartHost_)).isNull()) return done({smartHost_});
        auto found = std::make_shared<TextList>();
        auto left = std::make_shared<int>(2);
        for (const DnsType type : {DnsType::A, DnsType::AAAA})
            dns_.Lookup(smartHost_, type, [=](const DnsAnswer& a) {
                *found += a.records;
                if (--*left == 0) done(*found);
            });
    }

    // The record passes when check_host lets every address of the smart
    // host send for the system id; without known addresses, when it at
    // least names an include (the smart host provider's record).
    void JudgeSpf(int index, const Text& item, const Text& record, const TextList& addresses) {
        if (addresses.isEmpty()) {
            const bool include = record.contains(" include:") || record.contains(" redirect=");
            return Set(index, {item, include ? Verdict::Pass : Verdict::Fail,
                               Quoted(record) + (include ? " names an include" : " names no include") +
                                   "; the smart host's addresses are unknown (ClientHost " +
                                   (smartHost_.isEmpty() ? Text("not set") : smartHost_) + ")"});
        }
        auto results = std::make_shared<QList<std::pair<Text, SpfResult>>>();
        for (const Text& address : addresses) {
            const SpfRequest request{address, "postmaster@" + systemId_, systemId_};
            CheckSpf(dns_, request, [=, this](SpfResult result) {
                results->append({address, result});
                if (results->size() < addresses.size()) return;
                bool all = true;
                TextList said;
                for (const auto& [ip, r] : *results) {
                    all = all && r == SpfResult::Pass;
                    said << ip + " " + SpfResultName(r);
                }
                Set(index,
                    {item, all ? Verdict::Pass : Verdict::Fail,
                     Quoted(record) + (all ? " lets the smart host send (" : " does not let the smart host send (") +
                         said.join(", ") + ")"});
            });
        }
    }

    void CheckDkimKey(int index) {
        if (signing_.domain.isEmpty() || signing_.selector.isEmpty() || signing_.keyFile.isEmpty())
            return Set(index, {"DKIM", Verdict::Missing, "dkimdomain, dkimselector and dkimkey are not all set"});
        const Text name = signing_.selector + "._domainkey." + signing_.domain;
        const Text item = "DKIM " + name;
        dns_.Lookup(name, DnsType::TXT, [=, this](const DnsAnswer& a) {
            if (a.status == DnsStatus::Failed) return Set(index, Unanswered(item));
            if (a.records.isEmpty()) return Set(index, {item, Verdict::Missing, "no key record"});
            Text why;
            const std::optional<DkimSigningKey> own = DkimSigningKey::Load(signing_.keyFile, why);
            if (!own) return Set(index, {item, Verdict::Fail, "dkimkey: " + why});
            for (const Text& txt : a.records) {
                const std::optional<DkimKey> published = ParseDkimKey(txt);
                if (published && own->Matches(published->keyType, published->publicKey))
                    return Set(index,
                               {item, Verdict::Pass, "the published " + published->keyType + " key is dkimkey's"});
            }
            Set(index, {item, Verdict::Fail, "the published key is not dkimkey's: " + Quoted(a.records.first())});
        });
    }

    // The system id's own policy record, else its organisational domain's.
    void CheckDmarcRecord(int index, const Text& domain = {}) {
        const Text d = domain.isEmpty() ? systemId_ : domain;
        const Text item = "DMARC _dmarc." + d;
        dns_.Lookup("_dmarc." + d, DnsType::TXT, [=, this](const DnsAnswer& a) {
            if (a.status == DnsStatus::Failed) return Set(index, Unanswered(item));
            for (const Text& txt : a.records) {
                if (!IsDmarcRecord(txt)) continue;
                const bool usable = ParseDmarcRecord(txt).has_value();
                return Set(index, {item, usable ? Verdict::Pass : Verdict::Fail,
                                   Quoted(txt) + (usable ? Text() : Text(" is no usable policy record"))});
            }
            const Text organisational = OrganisationalDomain(systemId_);
            if (domain.isEmpty() && organisational != systemId_) return CheckDmarcRecord(index, organisational);
            Set(index, {"DMARC _dmarc." + systemId_, Verdict::Missing, "no DMARC record"});
        });
    }

    const Installation& inst_;
    Text systemId_;
    DkimSettings signing_;
    Text smartHost_;
    CachedDns dns_;
    QList<Line> lines_;
    int pending_ = 0;
    std::function<void()> done_;
};

}   // namespace

int RunDnsCheck(const Installation& inst, const QStringList& arguments) {
    if (!arguments.isEmpty()) return ctl::Fail(ctl::kUsage, "dnscheck takes no arguments");
    if (Trim(GetSystemId(inst.bbs)).isEmpty())
        return ctl::Fail(ctl::kUsage, "dnscheck: no Internet system id (net9.systemid)");
    return DnsCheck(inst).Run();
}
