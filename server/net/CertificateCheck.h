#pragma once
// The judgement of a server certificate before STARTTLS is offered with it,
// so that a key of another certificate or an expired certificate is refused
// when loaded instead of failing every client's handshake.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include "server/store/Text.h"

// Days before its end from which a certificate is warned about.
inline constexpr int kCertificateWarningDays = 14;

// `certPem` holds the chain (the server's certificate first), `keyPem` its
// private key. "" when the key belongs to the first certificate, that
// certificate is valid at `now` and each further certificate issued the one
// before it; otherwise the reason. `warning` receives "the certificate in
// FILE expires on DATE" when the end is within kCertificateWarningDays.
Text JudgeServerCertificate(const QByteArray& certPem, const QByteArray& keyPem, const QString& certFile,
                            const QString& keyFile, const QDateTime& now, Text& warning);
