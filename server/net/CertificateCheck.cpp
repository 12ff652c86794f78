#include "server/net/CertificateCheck.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <QSslCertificate>
#include <memory>
#include <vector>

namespace {
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;
using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Bio MemoryBio(const QByteArray& pem) { return Bio(BIO_new_mem_buf(pem.constData(), int(pem.size())), &BIO_free); }

// A key protected by a pass phrase is never asked for on a terminal.
int NoPassphrase(char*, int, int, void*) { return 0; }

std::vector<X509Ptr> ReadChain(const QByteArray& pem) {
    std::vector<X509Ptr> chain;
    Bio bio = MemoryBio(pem);
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, NoPassphrase, nullptr))
        chain.emplace_back(cert, &X509_free);
    return chain;
}

Text Day(const QDateTime& when) { return when.toUTC().toString("yyyy-MM-dd").toLatin1(); }
}   // namespace

Text JudgeServerCertificate(const QByteArray& certPem, const QByteArray& keyPem, const QString& certFile,
                            const QString& keyFile, const QDateTime& now, Text& warning) {
    const Text cert = certFile.toLocal8Bit();
    const std::vector<X509Ptr> chain = ReadChain(certPem);
    if (chain.empty()) return cert + " holds no PEM certificate";
    Bio keyBio = MemoryBio(keyPem);
    const KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, NoPassphrase, nullptr), &EVP_PKEY_free);
    if (!key) return keyFile.toLocal8Bit() + " holds no unencrypted PEM private key (RSA or EC)";
    if (X509_check_private_key(chain.front().get(), key.get()) != 1)
        return "the key in " + keyFile.toLocal8Bit() + " does not belong to the certificate in " + cert;
    for (size_t i = 1; i < chain.size(); ++i)
        if (X509_check_issued(chain[i].get(), chain[i - 1].get()) != X509_V_OK)
            return "the chain in " + cert + " is out of order: certificate " + Text::number(qulonglong(i + 1)) +
                   " did not issue certificate " + Text::number(qulonglong(i));

    const QSslCertificate leaf(certPem, QSsl::Pem);
    if (now < leaf.effectiveDate())
        return "the certificate in " + cert + " is not valid before " + Day(leaf.effectiveDate());
    if (now >= leaf.expiryDate()) return "the certificate in " + cert + " expired on " + Day(leaf.expiryDate());
    if (now.addDays(kCertificateWarningDays) >= leaf.expiryDate())
        warning = "the certificate in " + cert + " expires on " + Day(leaf.expiryDate());
    return {};
}
