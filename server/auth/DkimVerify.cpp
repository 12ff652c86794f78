#include "server/auth/DkimVerify.h"

#include "server/auth/DkimCanon.h"
#include "server/auth/DkimKey.h"
#include "server/auth/DkimSignature.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QHash>
#include <memory>

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

inline constexpr int kMinRsaBits = 1024;

QByteArray Sha256(QByteArrayView data) {
    QByteArray digest(32, '\0');
    unsigned int size = 0;
    EVP_Digest(data.data(), size_t(data.size()), reinterpret_cast<unsigned char*>(digest.data()), &size, EVP_sha256(),
               nullptr);
    return digest;
}

// The RSA key of p=: a SubjectPublicKeyInfo, or a bare RSAPublicKey.
Pkey RsaKey(const QByteArray& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.constData());
    Pkey key(d2i_PUBKEY(nullptr, &p, long(der.size())));
    if (!key) {
        p = reinterpret_cast<const unsigned char*>(der.constData());
        key.reset(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, long(der.size())));
    }
    if (key && EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) key.reset();
    return key;
}

Pkey Ed25519Key(const QByteArray& raw) {
    if (raw.size() != 32) return nullptr;
    return Pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                            reinterpret_cast<const unsigned char*>(raw.constData()), 32));
}

bool Verify(EVP_PKEY* key, const EVP_MD* md, QByteArrayView data, const QByteArray& signature) {
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) != 1) return false;
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
                            size_t(signature.size()), reinterpret_cast<const unsigned char*>(data.data()),
                            size_t(data.size())) == 1;
}

// The bytes the header hash covers: the signed fields, each taken from the
// bottom up, then the signature's own field without b= and its line end.
Text SignedHeaderData(const SplitMail& mail, qsizetype fieldIndex, const DkimSignature& sig) {
    Text data;
    QHash<Text, qsizetype> below;   // per lower-case name: where the next instance is looked for
    for (const Text& wanted : sig.signedHeaders) {
        const Text key = wanted.toLower();
        qsizetype from = below.value(key, mail.fields.size());
        while (--from >= 0)
            if (mail.fields[from].name.toLower() == key) break;
        below[key] = std::max<qsizetype>(from, 0);
        if (from < 0) {
            below[key] = -1;
            continue;   // a field named but not present is hashed as nothing
        }
        data += CanonicalHeader(mail.fields[from], sig.relaxedHeader);
    }
    HeaderField own = mail.fields[fieldIndex];
    while (own.raw.endsWith('\n') || own.raw.endsWith('\r')) own.raw.chop(1);
    own.raw = WithoutSignatureValue(own.raw);
    Text canonical = CanonicalHeader(own, sig.relaxedHeader);
    if (sig.relaxedHeader) canonical.chop(2);
    return data + canonical;
}

DkimOutcome Outcome(DkimResult result, const char* reason, DkimOutcome base) {
    base.result = result;
    base.reason = reason;
    return base;
}

}   // namespace

Text DkimResultName(DkimResult result) {
    switch (result) {
    case DkimResult::None:
        return "none";
    case DkimResult::Pass:
        return "pass";
    case DkimResult::Fail:
        return "fail";
    case DkimResult::Neutral:
        return "neutral";
    case DkimResult::TempError:
        return "temperror";
    case DkimResult::PermError:
        return "permerror";
    }
    return "none";
}

DkimOutcome CheckDkimSignature(const Text& message, qsizetype fieldIndex, const Text& keyRecord, qint64 now) {
    const SplitMail mail = SplitForDkim(message);
    DkimOutcome out;
    const HeaderField& field = mail.fields[fieldIndex];
    const qsizetype colon = field.raw.indexOf(':');
    const std::optional<DkimSignature> sig = ParseDkimSignature(field.raw.mid(colon + 1));
    if (!sig) return Outcome(DkimResult::PermError, "bad signature syntax", out);
    out.domain = sig->domain;
    out.selector = sig->selector;
    out.identity = sig->identity;
    out.bPrefix = sig->rawSignature.left(8);
    out.length = sig->length;
    if (sig->algorithm == "rsa-sha1") return Outcome(DkimResult::Fail, "rsa-sha1 is not accepted", out);
    const bool ed25519 = sig->algorithm == "ed25519-sha256";
    if (!ed25519 && sig->algorithm != "rsa-sha256") return Outcome(DkimResult::PermError, "unknown algorithm", out);
    if (sig->expiry && *sig->expiry < now) return Outcome(DkimResult::Fail, "signature expired", out);

    const std::optional<DkimKey> key = ParseDkimKey(keyRecord);
    if (!key) return Outcome(DkimResult::PermError, "bad key record", out);
    if (key->publicKey.isEmpty()) return Outcome(DkimResult::Fail, "key revoked", out);
    if (key->keyType != (ed25519 ? "ed25519" : "rsa")) return Outcome(DkimResult::Fail, "key type mismatch", out);
    if (!key->hashes.isEmpty() && !key->hashes.contains("sha256"))
        return Outcome(DkimResult::Fail, "hash not allowed", out);
    if (!key->emailService) return Outcome(DkimResult::Fail, "key not for e-mail", out);
    if (key->sameDomain && sig->identity.mid(sig->identity.lastIndexOf('@') + 1).toLower() != sig->domain)
        return Outcome(DkimResult::Fail, "i= must be d= for this key", out);

    Text body = CanonicalBody(mail.body, sig->relaxedBody);
    if (sig->length) {
        if (*sig->length > body.size()) return Outcome(DkimResult::Fail, "l= beyond the body", out);
        body.truncate(*sig->length);
    }
    if (Sha256(body) != sig->bodyHash) return Outcome(DkimResult::Fail, "body hash did not verify", out);

    const Text data = SignedHeaderData(mail, fieldIndex, *sig);
    bool good = false;
    if (ed25519) {
        const Pkey pkey = Ed25519Key(key->publicKey);
        if (!pkey) return Outcome(DkimResult::PermError, "bad ed25519 key", out);
        good = Verify(pkey.get(), nullptr, Sha256(data), sig->signature);
    } else {
        const Pkey pkey = RsaKey(key->publicKey);
        if (!pkey) return Outcome(DkimResult::PermError, "bad RSA key", out);
        if (EVP_PKEY_get_bits(pkey.get()) < kMinRsaBits) return Outcome(DkimResult::Fail, "RSA key too short", out);
        good = Verify(pkey.get(), EVP_sha256(), data, sig->signature);
    }
    if (!good) return Outcome(DkimResult::Fail, "signature did not verify", out);
    out.result = DkimResult::Pass;
    return out;
}

void VerifyDkim(CachedDns& dns, const Text& message, const QList<HeaderField>& fields, qint64 now,
                std::function<void(QList<DkimOutcome>)> done) {
    QList<qsizetype> signatures;
    for (qsizetype i = 0; i < fields.size() && signatures.size() < kMaxDkimSignatures; ++i)
        if (fields[i].name.toLower() == "dkim-signature") signatures << i;
    struct Pending {
        QList<DkimOutcome> outcomes;
        int left = 0;
        std::function<void(QList<DkimOutcome>)> done;
    };
    auto pending =
        std::make_shared<Pending>(Pending{QList<DkimOutcome>(signatures.size()), int(signatures.size()), done});
    if (signatures.isEmpty()) {
        QMetaObject::invokeMethod(
            &dns, [done] { done({}); }, Qt::QueuedConnection);
        return;
    }
    for (qsizetype n = 0; n < signatures.size(); ++n) {
        const qsizetype index = signatures[n];
        const HeaderField& field = fields[index];
        const std::optional<DkimSignature> sig = ParseDkimSignature(field.raw.mid(field.raw.indexOf(':') + 1));
        const auto settle = [pending, n](DkimOutcome outcome) {
            pending->outcomes[n] = std::move(outcome);
            if (--pending->left == 0) pending->done(pending->outcomes);
        };
        if (!sig) {
            // Answered through the loop like the others, never inside the call.
            QMetaObject::invokeMethod(
                &dns, [message, index, now, settle] { settle(CheckDkimSignature(message, index, {}, now)); },
                Qt::QueuedConnection);
            continue;
        }
        dns.Lookup(sig->selector + "._domainkey." + sig->domain, DnsType::TXT,
                   [message, index, now, settle, sig](const DnsAnswer& a) {
                       DkimOutcome base{
                           DkimResult::None, sig->domain, sig->selector, sig->identity, sig->rawSignature.left(8),
                           sig->length,      {}};
                       if (a.status == DnsStatus::Failed)
                           return settle(Outcome(DkimResult::TempError, "key look-up failed", base));
                       if (a.records.isEmpty()) return settle(Outcome(DkimResult::PermError, "no key", base));
                       settle(CheckDkimSignature(message, index, a.records.first(), now));
                   });
    }
}
