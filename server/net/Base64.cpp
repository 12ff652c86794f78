#include "server/net/Base64.h"
#include <QFile>
#include <array>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Inverse of the alphabet; every other code maps to 0.
constexpr std::array<uint8_t, 256> MakeDecodingTable() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
    return table;
}
constexpr std::array<uint8_t, 256> kDecoding = MakeDecodingTable();

// Inserts CR LF after every full line when the text is longer than one line.
Text BreakLines(const Text& encoded) {
    const qsizetype n = encoded.size();
    if (n <= clsBase64::kLineLength) return encoded;
    Text out;
    out.reserve(n + (n / clsBase64::kLineLength) * 2);
    for (qsizetype pos = 0; pos < n; pos += clsBase64::kLineLength) {
        if (pos > 0) out += CRLF;
        out += encoded.mid(pos, clsBase64::kLineLength);
    }
    return out;
}

// The input without CR LF pairs and without "=", as decoding sees it.
QByteArray DecodableValues(const Text& input) {
    QByteArray values;
    values.reserve(input.size());
    const qsizetype n = input.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = input[i];
        if (c == '\r' && i + 1 < n && input[i + 1] == '\n') {
            ++i;
            continue;
        }
        if (c == '=') continue;
        values += static_cast<char>(kDecoding[static_cast<uint8_t>(c)]);
    }
    return values;
}

}   // namespace

Text clsBase64::EncodeArr(const QByteArray& bytes) {
    const auto* in = reinterpret_cast<const uint8_t*>(bytes.constData());
    const qsizetype n = bytes.size();
    Text out;
    out.reserve(((n + 2) / 3) * 4);
    qsizetype i = 0;
    for (; i + 2 < n; i += 3) {
        const uint32_t group = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += kAlphabet[(group >> 6) & 63];
        out += kAlphabet[group & 63];
    }
    if (n - i == 1) {
        const uint32_t group = uint32_t(in[i]) << 16;
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += "==";
    } else if (n - i == 2) {
        const uint32_t group = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += kAlphabet[(group >> 6) & 63];
        out += '=';
    }
    return BreakLines(out);
}

Text clsBase64::Encode(const Text& sInput) {
    if (sInput.isEmpty()) return {};
    return EncodeArr(sInput);
}

Text clsBase64::EncodeFromFile(const QString& sFileName) {
    QFile file(sFileName);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return {};
    return EncodeArr(bytes);
}

QByteArray clsBase64::DecodeArr(const Text& sInput) {
    const QByteArray values = DecodableValues(sInput);
    const auto* v = reinterpret_cast<const uint8_t*>(values.constData());
    const qsizetype n = values.size();
    QByteArray out;
    out.reserve((n / 4) * 3 + 2);
    qsizetype i = 0;
    for (; i + 3 < n; i += 4) {
        const uint32_t group =
            (uint32_t(v[i]) << 18) | (uint32_t(v[i + 1]) << 12) | (uint32_t(v[i + 2]) << 6) | v[i + 3];
        out += static_cast<char>((group >> 16) & 0xFF);
        out += static_cast<char>((group >> 8) & 0xFF);
        out += static_cast<char>(group & 0xFF);
    }
    const qsizetype rest = n - i;
    if (rest >= 2) {
        uint32_t group = (uint32_t(v[i]) << 18) | (uint32_t(v[i + 1]) << 12);
        if (rest == 3) group |= uint32_t(v[i + 2]) << 6;
        out += static_cast<char>((group >> 16) & 0xFF);
        if (rest == 3) out += static_cast<char>((group >> 8) & 0xFF);
    }
    return out;
}

Text clsBase64::Decode(const Text& sInput) {
    if (sInput.isEmpty()) return {};
    return DecodeArr(sInput);
}

bool clsBase64::DecodeToFile(const Text& sInput, const QString& sFileName, Error* error) {
    // NewOnly makes the existence test and the creation one step, so a file
    // that appears in between is never overwritten either.
    QFile file(sFileName);
    if (file.exists() || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (error) {
            if (file.exists())
                *error = {kFileExistsError, kFileExistsSource, kFileExistsDescription};
            else
                *error = {0, kFileExistsSource, file.errorString().toLatin1()};
        }
        return false;
    }
    const QByteArray bytes = DecodeArr(sInput);
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (!written) {
        file.remove();
        if (error) *error = {0, kFileExistsSource, "The file could not be written."};
    }
    return written;
}
