#pragma once
// DKIM signing of everything the client sends (users' mail, return notices,
// file-request answers), so that the mail passes DMARC at the receiver
// although it leaves through a smart host of another domain.
#include <optional>
#include "server/auth/DkimSigningKey.h"
#include "server/bbs/ServerContext.h"

// The keyed settings of signing (store/KeyedSettings).
struct DkimSettings {
    Text domain;       // "dkimdomain": d= of the signatures
    Text selector;     // "dkimselector": s=
    QString keyFile;   // "dkimkey": the private key (PEM)

    bool AnySet() const { return !domain.isEmpty() || !selector.isEmpty() || !keyFile.isEmpty(); }
};

DkimSettings LoadDkimSettings(const QString& keyedList);

class OutboundSigning {
public:
    explicit OutboundSigning(const ServerContext& ctx) : ctx_(ctx) {}

    // Reads the settings and the key afresh. What came of it is reported
    // (a key that does not load in the event window and the error log) when
    // `reportAgain` is set or when it differs from the last time.
    void Reload(bool reportAgain);

    // `message` (lines ending in CR LF, as it will be sent) with a
    // DKIM-Signature in front when a key is loaded and the From domain is
    // within dkimdomain; otherwise unchanged, with an event line saying why.
    Text Sign(const Text& message) const;

private:
    const ServerContext& ctx_;
    DkimSettings settings_;
    std::optional<DkimSigningKey> key_;
    Text report_;   // of the last Reload
};
