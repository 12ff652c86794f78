#pragma once
// TLS for the three connections that may use it: the SMTP client to the
// upstream server, the POP3 log-in, and inbound sessions (STARTTLS). The
// settings live in the keyed list file beside the server's other lists.
#include <QList>
#include <QSslConfiguration>
#include <QSslError>
#include "server/store/KeyedSettings.h"
#include "server/store/Text.h"

// How a client connection uses TLS.
enum class TlsMode {
    Auto,       // implicit TLS on the protocol's TLS port, else STARTTLS when offered
    StartTls,   // STARTTLS (STLS) is required
    Implicit,   // TLS from the first byte
    None,       // clear text
};

// The keyed-list keys and their values.
struct TlsSettings {
    TlsMode client = TlsMode::Auto;   // "clienttls"
    QString clientCaFile;             // "clienttlsca": further CAs to trust (PEM)
    TlsMode pop3 = TlsMode::Auto;     // "pop3tls"
    QString serverCertFile;           // "servertlscert" (PEM)
    QString serverKeyFile;            // "servertlskey" (PEM)

    static constexpr const char* kClientKey = kClientTlsKey;
    static constexpr const char* kClientCaKey = kClientTlsCaKey;
    static constexpr const char* kPop3Key = kPop3TlsKey;
    static constexpr const char* kServerCertKey = kServerTlsCertKey;
    static constexpr const char* kServerKeyKey = kServerTlsKeyKey;
};

// Reads the TLS keys of the keyed list file `keyedList`.
TlsSettings LoadTlsSettings(const QString& keyedList);

// "auto", "starttls", "implicit" or "none" (any case, blanks ignored); an
// absent or unknown value is "auto".
TlsMode ParseTlsMode(const Text& value);
Text TlsModeName(TlsMode mode);
// Whether a connection in `mode` to `port` starts encrypted; `tlsPort` is the
// protocol's port for implicit TLS (465 for SMTP, 995 for POP3).
bool StartsEncrypted(TlsMode mode, quint16 port, quint16 tlsPort);

// The client side: the system's CA store plus the certificates of `caFile`
// (none when empty). False, with the reason, when the file cannot be read or
// holds no certificate.
bool ClientTlsConfiguration(const QString& caFile, QSslConfiguration& out, Text& error);
// The server side: certificate chain and private key from PEM files. False,
// with the reason, when either is not set or does not load, the key is not
// the certificate's, the certificate is not valid now or the chain is out of
// order. `warning` receives a note on a certificate that ends soon.
bool ServerTlsConfiguration(const QString& certFile, const QString& keyFile, QSslConfiguration& out, Text& error,
                            Text* warning = nullptr);
// The verification errors of a handshake as one line.
Text TlsErrorsText(const QList<QSslError>& errors);
// Whether this Qt has a TLS backend at all.
bool TlsAvailable();
