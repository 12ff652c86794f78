#pragma once
// The value of a DKIM-Signature header field (RFC 6376 section 3.5).
#include <optional>
#include "server/store/Text.h"

struct DkimSignature {
    Text algorithm;                    // a=, lower case: "rsa-sha256", "ed25519-sha256", "rsa-sha1", ...
    QByteArray signature;              // b= decoded
    QByteArray bodyHash;               // bh= decoded
    bool relaxedHeader = false;        // c= header part
    bool relaxedBody = false;          // c= body part
    Text domain;                       // d=, lower case
    TextList signedHeaders;            // h=, as written, in order
    Text identity;                     // i=, "@" + d= when missing
    std::optional<qint64> length;      // l=
    Text selector;                     // s=
    std::optional<qint64> timestamp;   // t=
    std::optional<qint64> expiry;      // x=
    Text rawSignature;                 // b= without white space, for header.b
};

// Nothing for a value that breaks the syntax or lacks a required tag; why
// in `error` then.
std::optional<DkimSignature> ParseDkimSignature(const Text& value, Text* error = nullptr);

// The header field (without its final line end) with the value of its b=
// tag emptied, as it enters the signature's own hash (RFC 6376 section 3.7).
Text WithoutSignatureValue(const Text& field);
