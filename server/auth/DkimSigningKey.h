#pragma once
// A DKIM signing key: RSA of 2048 bits or more (rsa-sha256) or Ed25519
// (ed25519-sha256, RFC 8463), kept in a PEM file. All the cryptography is
// OpenSSL's.
#include <QString>
#include <memory>
#include <optional>
#include "server/store/Text.h"

using EVP_PKEY = struct evp_pkey_st;

enum class DkimKeyType { Rsa, Ed25519 };

class DkimSigningKey {
public:
    static constexpr int kMinRsaBits = 2048;

    // A private key in PEM (PKCS#8 or the traditional forms, never one with
    // a pass phrase); nothing, with the reason, for anything else.
    static std::optional<DkimSigningKey> FromPem(const Text& pem, Text& why);
    // The same from a file; a file that cannot be read is a reason too.
    static std::optional<DkimSigningKey> Load(const QString& path, Text& why);
    // A new key: RSA of kMinRsaBits, or Ed25519.
    static std::optional<DkimSigningKey> Generate(DkimKeyType type, Text& why);

    DkimKeyType Type() const { return type_; }
    int Bits() const;
    Text Algorithm() const;   // "rsa-sha256" or "ed25519-sha256"
    Text KeyTag() const;      // the k= of the key record: "rsa" or "ed25519"
    // The private key in PEM (PKCS#8).
    Text PrivatePem() const;
    // The public key as the p= of the key record, in Base64: the DER public
    // key info for RSA, the 32 raw bytes for Ed25519.
    Text PublicKeyBase64() const;

    // Whether a published key (the p= of a key record, decoded, of type
    // `keyTag`) is this key's public half. RSA keys may be published as the
    // public key info or as the bare RSA public key.
    bool Matches(const Text& keyTag, const QByteArray& publicKey) const;

    // The signature of `data` by the key's algorithm: RSA over the SHA-256
    // of the data; Ed25519 over the SHA-256 of the data as RFC 8463 says.
    // Empty when OpenSSL fails.
    Text Sign(const Text& data) const;

private:
    DkimSigningKey(std::shared_ptr<EVP_PKEY> key, DkimKeyType type) : key_(std::move(key)), type_(type) {}
    static std::optional<DkimSigningKey> Accept(std::shared_ptr<EVP_PKEY> key, Text& why);

    std::shared_ptr<EVP_PKEY> key_;
    DkimKeyType type_;
};

// The key record to publish at the selector: "v=DKIM1; k=...; p=...".
Text DkimKeyRecord(const DkimSigningKey& key);

// SHA-256 of `data` (OpenSSL).
Text Sha256Digest(const Text& data);
