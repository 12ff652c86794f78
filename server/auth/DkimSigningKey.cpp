#include "server/auth/DkimSigningKey.h"
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <QFile>

namespace {

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::shared_ptr<EVP_PKEY> Own(EVP_PKEY* key) { return {key, EVP_PKEY_free}; }

// A key with a pass phrase is refused rather than asked for on a terminal.
int NoPassphrase(char*, int, int, void*) { return -1; }

Text OpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown OpenSSL failure";
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    return buffer;
}

Text BioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return Text(data, size);
}

}   // namespace

std::optional<DkimSigningKey> DkimSigningKey::Accept(std::shared_ptr<EVP_PKEY> key, Text& why) {
    if (!key) {
        ERR_clear_error();
        why = "no private key in PEM form";
        return std::nullopt;
    }
    switch (EVP_PKEY_get_base_id(key.get())) {
    case EVP_PKEY_RSA:
        if (EVP_PKEY_get_bits(key.get()) < kMinRsaBits) {
            why = "an RSA key of " + NumText(EVP_PKEY_get_bits(key.get())) + " bits (2048 or more are needed)";
            return std::nullopt;
        }
        return DkimSigningKey(std::move(key), DkimKeyType::Rsa);
    case EVP_PKEY_ED25519:
        return DkimSigningKey(std::move(key), DkimKeyType::Ed25519);
    default:
        why = "neither an RSA nor an Ed25519 key";
        return std::nullopt;
    }
}

std::optional<DkimSigningKey> DkimSigningKey::FromPem(const Text& pem, Text& why) {
    Bio bio(BIO_new_mem_buf(pem.constData(), int(pem.size())), BIO_free);
    if (!bio) {
        why = OpenSslError();
        return std::nullopt;
    }
    return Accept(Own(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr)), why);
}

std::optional<DkimSigningKey> DkimSigningKey::Load(const QString& path, Text& why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = "cannot read " + QFile::encodeName(path) + ": " + file.errorString().toLocal8Bit();
        return std::nullopt;
    }
    const std::optional<DkimSigningKey> key = FromPem(file.readAll(), why);
    if (!key) why = QFile::encodeName(path) + " holds " + why;
    return key;
}

std::optional<DkimSigningKey> DkimSigningKey::Generate(DkimKeyType type, Text& why) {
    EVP_PKEY* key = type == DkimKeyType::Rsa ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(kMinRsaBits))
                                             : EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (!key) {
        why = OpenSslError();
        return std::nullopt;
    }
    return Accept(Own(key), why);
}

int DkimSigningKey::Bits() const { return EVP_PKEY_get_bits(key_.get()); }

Text DkimSigningKey::Algorithm() const { return type_ == DkimKeyType::Rsa ? "rsa-sha256" : "ed25519-sha256"; }

Text DkimSigningKey::KeyTag() const { return type_ == DkimKeyType::Rsa ? "rsa" : "ed25519"; }

Text DkimSigningKey::PrivatePem() const {
    Bio bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) return {};
    return BioText(bio.get());
}

Text DkimSigningKey::PublicKeyBase64() const {
    if (type_ == DkimKeyType::Ed25519) {
        unsigned char raw[32];
        size_t length = sizeof raw;
        if (EVP_PKEY_get_raw_public_key(key_.get(), raw, &length) != 1) return {};
        return Text(reinterpret_cast<const char*>(raw), qsizetype(length)).toBase64();
    }
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key_.get(), &der);
    if (length <= 0) return {};
    const Text out = Text(reinterpret_cast<const char*>(der), length).toBase64();
    OPENSSL_free(der);
    return out;
}

bool DkimSigningKey::Matches(const Text& keyTag, const QByteArray& publicKey) const {
    if (!SameText(keyTag, KeyTag()) || publicKey.isEmpty()) return false;
    if (type_ == DkimKeyType::Ed25519) return publicKey == QByteArray::fromBase64(PublicKeyBase64());
    const auto* der = reinterpret_cast<const unsigned char*>(publicKey.constData());
    std::shared_ptr<EVP_PKEY> published = Own(d2i_PUBKEY(nullptr, &der, long(publicKey.size())));
    if (!published) {
        der = reinterpret_cast<const unsigned char*>(publicKey.constData());
        published = Own(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &der, long(publicKey.size())));
    }
    ERR_clear_error();
    return published && EVP_PKEY_eq(published.get(), key_.get()) == 1;
}

Text DkimSigningKey::Sign(const Text& data) const {
    DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context) return {};
    // RFC 8463: Ed25519 signs the SHA-256 of the data, as pure EdDSA.
    const Text input = type_ == DkimKeyType::Ed25519 ? Sha256Digest(data) : data;
    const EVP_MD* digest = type_ == DkimKeyType::Rsa ? EVP_sha256() : nullptr;
    size_t length = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(input.constData());
    if (EVP_DigestSignInit(context.get(), nullptr, digest, nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, bytes, size_t(input.size())) != 1) {
        ERR_clear_error();
        return {};
    }
    Text signature(qsizetype(length), '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, bytes,
                       size_t(input.size())) != 1) {
        ERR_clear_error();
        return {};
    }
    signature.truncate(qsizetype(length));
    return signature;
}

Text DkimKeyRecord(const DkimSigningKey& key) { return "v=DKIM1; k=" + key.KeyTag() + "; p=" + key.PublicKeyBase64(); }

Text Sha256Digest(const Text& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.constData(), size_t(data.size()), digest, &length, EVP_sha256(), nullptr) != 1) return {};
    return Text(reinterpret_cast<const char*>(digest), int(length));
}
