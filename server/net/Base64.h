#pragma once
// Base64 with the alphabet and "=" padding of RFC 2045 (class clsBase64).
// Encoded text longer than 76 characters is broken into lines of 76
// characters joined by CR LF. Decoding does not validate: it never fails,
// and characters outside the alphabet count as the value 0.
#include <QString>
#include <cstdint>
#include "server/store/Text.h"

class clsBase64 {
public:
    // The error DecodeToFile reports for an existing file.
    static constexpr uint32_t kFileExistsError = 0x800403E8;
    static constexpr const char* kFileExistsSource = "Base64.DecodeToFile";
    static constexpr const char* kFileExistsDescription = "File already exists.";

    struct Error {
        uint32_t number = 0;
        Text source;
        Text description;
    };

    static Text Encode(const Text& sInput);   // "" for ""
    static Text EncodeArr(const QByteArray& bytes);
    static Text EncodeFromFile(const QString& sFileName);   // "" when unreadable or empty
    static QByteArray DecodeArr(const Text& sInput);
    static Text Decode(const Text& sInput);   // "" for ""
    // Writes the decoded bytes into a new file; refuses to replace an existing
    // one. On failure returns false and fills `error` when given.
    static bool DecodeToFile(const Text& sInput, const QString& sFileName, Error* error = nullptr);

    static constexpr int kLineLength = 76;
};
