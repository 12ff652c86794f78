#include "server/outbound/OutboundSigning.h"
#include <QDateTime>
#include "server/auth/DkimSigner.h"
#include "server/outbound/OutboundText.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Headers.h"
#include "server/store/KeyedList.h"
#include "server/store/KeyedSettings.h"
#include "server/store/Version.h"

namespace {
constexpr int16_t kSocketSlot = 0;

Text DomainOf(const Text& address) {
    const qsizetype at = address.lastIndexOf('@');
    return at < 0 ? Text() : address.mid(at + 1);
}

// Why the settings cannot sign, or nothing.
Text Incomplete(const DkimSettings& s) {
    if (s.domain.isEmpty()) return Text(kDkimDomainKey) + " is not set";
    // Both go into the signature's header field as they stand.
    if (!IsDnsName(s.domain)) return Text(kDkimDomainKey) + " \"" + s.domain + "\" is no domain name";
    if (s.selector.isEmpty()) return Text(kDkimSelectorKey) + " is not set";
    if (!IsDnsName(s.selector)) return Text(kDkimSelectorKey) + " \"" + s.selector + "\" is no selector";
    if (s.keyFile.isEmpty()) return Text(kDkimKeyFileKey) + " is not set";
    return {};
}

}   // namespace

DkimSettings LoadDkimSettings(const QString& keyedList) {
    DkimSettings s;
    s.domain = LCase(Trim(GetData(kDkimDomainKey, keyedList)));
    s.selector = Trim(GetData(kDkimSelectorKey, keyedList));
    s.keyFile = PathFromText(Trim(GetData(kDkimKeyFileKey, keyedList)));
    return s;
}

void OutboundSigning::Reload(bool reportAgain) {
    settings_ = LoadDkimSettings(ctx_.KeyedList());
    key_.reset();
    Text why = Incomplete(settings_);
    if (why.isEmpty()) key_ = DkimSigningKey::Load(settings_.keyFile, why);

    Text report;
    if (key_)
        report = "DKIM signing on: " + key_->Algorithm() +
                 (key_->Type() == DkimKeyType::Rsa ? " (" + NumText(key_->Bits()) + " bits)" : Text()) +
                 ", d=" + settings_.domain + ", s=" + settings_.selector + ".";
    else if (settings_.AnySet())
        report = "DKIM signing off: " + why + "; mail goes out unsigned.";
    if (report == report_ && !reportAgain) return;
    report_ = report;
    if (report.isEmpty()) return;
    ctx_.Log().ReportServer(report);
    if (!key_) LogError("LoadDkimKey", kVersion, "frmMain", report);
}

Text OutboundSigning::Sign(const Text& message) const {
    if (!key_) return message;
    const Text from = EnvelopeAddress(GetHeaderField("From", message));
    if (!WithinDomain(DomainOf(from), settings_.domain)) {
        ctx_.Log().Report(kSocketSlot, "Not signed: the From address <" + from + "> is outside " + settings_.domain +
                                           " (the signature would not align).");
        return message;
    }
    const Text signature =
        DkimSignatureField(message, *key_, {settings_.domain, settings_.selector}, QDateTime::currentSecsSinceEpoch());
    if (signature.isEmpty()) {
        ctx_.Log().Report(kSocketSlot, "Not signed: the DKIM key failed to sign.");
        LogError("SendBody", kVersion, "frmMain", "The DKIM key failed to sign.");
        return message;
    }
    return signature + message;
}
