#include "server/net/Tls.h"
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include "server/net/CertificateCheck.h"
#include "server/store/KeyedList.h"

namespace {

QString PathValue(const Text& key, const QString& keyedList) {
    return QString::fromLatin1(Trim(GetData(key, keyedList)));
}

Text FileError(const QString& path, const QFile& file) {
    return "cannot read " + path.toLatin1() + ": " + file.errorString().toLatin1();
}

}   // namespace

TlsSettings LoadTlsSettings(const QString& keyedList) {
    TlsSettings s;
    s.client = ParseTlsMode(GetData(TlsSettings::kClientKey, keyedList));
    s.clientCaFile = PathValue(TlsSettings::kClientCaKey, keyedList);
    s.pop3 = ParseTlsMode(GetData(TlsSettings::kPop3Key, keyedList));
    s.serverCertFile = PathValue(TlsSettings::kServerCertKey, keyedList);
    s.serverKeyFile = PathValue(TlsSettings::kServerKeyKey, keyedList);
    return s;
}

TlsMode ParseTlsMode(const Text& value) {
    const Text v = Trim(value).toLower();
    if (v == "starttls") return TlsMode::StartTls;
    if (v == "implicit") return TlsMode::Implicit;
    if (v == "none") return TlsMode::None;
    return TlsMode::Auto;
}

Text TlsModeName(TlsMode mode) {
    switch (mode) {
    case TlsMode::StartTls:
        return "starttls";
    case TlsMode::Implicit:
        return "implicit";
    case TlsMode::None:
        return "none";
    case TlsMode::Auto:
        break;
    }
    return "auto";
}

bool StartsEncrypted(TlsMode mode, quint16 port, quint16 tlsPort) {
    return mode == TlsMode::Implicit || (mode == TlsMode::Auto && port == tlsPort);
}

bool TlsAvailable() { return QSslSocket::supportsSsl(); }

bool ClientTlsConfiguration(const QString& caFile, QSslConfiguration& out, Text& error) {
    out = QSslConfiguration::defaultConfiguration();
    out.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (caFile.isEmpty()) return true;
    QFile file(caFile);
    if (!file.open(QIODevice::ReadOnly)) {
        error = FileError(caFile, file);
        return false;
    }
    const QList<QSslCertificate> extra = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (extra.isEmpty()) {
        error = caFile.toLatin1() + " holds no PEM certificate";
        return false;
    }
    out.addCaCertificates(extra);
    return true;
}

bool ServerTlsConfiguration(const QString& certFile, const QString& keyFile, QSslConfiguration& out, Text& error,
                            Text* warning) {
    if (certFile.isEmpty() || keyFile.isEmpty()) {
        error = "no certificate and key files set";
        return false;
    }
    if (!TlsAvailable()) {
        error = "this system's Qt has no TLS support";
        return false;
    }
    QFile cert(certFile), key(keyFile);
    if (!cert.open(QIODevice::ReadOnly)) {
        error = FileError(certFile, cert);
        return false;
    }
    if (!key.open(QIODevice::ReadOnly)) {
        error = FileError(keyFile, key);
        return false;
    }
    const QByteArray certPem = cert.readAll();
    const QByteArray keyPem = key.readAll();
    Text soon;
    error = JudgeServerCertificate(certPem, keyPem, certFile, keyFile, QDateTime::currentDateTimeUtc(), soon);
    if (!error.isEmpty()) return false;
    if (warning) *warning = soon;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certPem, QSsl::Pem);
    QSslKey privateKey(keyPem, QSsl::Rsa, QSsl::Pem);
    if (privateKey.isNull()) privateKey = QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
    if (privateKey.isNull()) {
        error = keyFile.toLatin1() + " holds no unencrypted PEM private key (RSA or EC)";
        return false;
    }
    out = QSslConfiguration::defaultConfiguration();
    out.setLocalCertificateChain(chain);
    out.setPrivateKey(privateKey);
    out.setPeerVerifyMode(QSslSocket::VerifyNone);   // senders bring no certificate
    return true;
}

Text TlsErrorsText(const QList<QSslError>& errors) {
    TextList parts;
    for (const QSslError& e : errors) parts.append(e.errorString().toLatin1());
    return parts.join("; ");
}
