#pragma once
// The certificates of the TLS tests, made afresh by make_certs.sh (openssl)
// in a temporary directory; see that script for what each file is.
#include <QString>
#include <QTemporaryDir>

class TestCertificates {
public:
    TestCertificates();
    bool Made() const { return made_; }
    // A file of the set, e.g. "ca.pem", "server.key".
    QString Path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    bool made_ = false;
};
