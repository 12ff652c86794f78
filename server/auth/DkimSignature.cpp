#include "server/auth/DkimSignature.h"

#include "server/auth/TagList.h"

namespace {

// A decimal number of at most 18 digits (the tags allow 76, but no clock or
// length goes that far); nothing otherwise.
std::optional<qint64> Number(const Text& value) {
    if (value.isEmpty() || value.size() > 18) return std::nullopt;
    qint64 n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

std::optional<QByteArray> Base64(const Text& value) {
    const auto decoded =
        QByteArray::fromBase64Encoding(WithoutTagSpace(value), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    return decoded.decoded;
}

bool Fail(Text* error, const char* why) {
    if (error) *error = why;
    return false;
}

bool ReadCanonicalization(const Text& value, DkimSignature& sig) {
    const TextList parts = value.toLower().split('/');
    if (parts.size() > 2) return false;
    const auto relaxed = [](const Text& part, bool* out) {
        if (part != "simple" && part != "relaxed") return false;
        *out = part == "relaxed";
        return true;
    };
    if (!relaxed(parts[0], &sig.relaxedHeader)) return false;
    return parts.size() == 1 || relaxed(parts[1], &sig.relaxedBody);
}

// The domain of i= is d= or one of its subdomains.
bool IdentityFits(const Text& identity, const Text& domain) {
    const qsizetype at = identity.lastIndexOf('@');
    if (at < 0) return false;
    const Text idDomain = identity.mid(at + 1).toLower();
    return idDomain == domain || idDomain.endsWith("." + domain);
}

bool Read(const TagList& tags, DkimSignature& sig, Text* error) {
    for (const char* required : {"v", "a", "b", "bh", "d", "h", "s"})
        if (!tags.Has(required)) return Fail(error, "a required tag is missing");
    if (tags.Value("v") != "1") return Fail(error, "unknown version");
    sig.algorithm = tags.Value("a").toLower();
    sig.rawSignature = WithoutTagSpace(tags.Value("b"));
    const auto b = Base64(tags.Value("b")), bh = Base64(tags.Value("bh"));
    if (!b || !bh || b->isEmpty() || bh->isEmpty()) return Fail(error, "bad Base64 in b= or bh=");
    sig.signature = *b;
    sig.bodyHash = *bh;
    if (tags.Has("c") && !ReadCanonicalization(tags.Value("c"), sig)) return Fail(error, "unknown canonicalization");
    sig.domain = tags.Value("d").toLower();
    sig.selector = tags.Value("s");
    if (sig.domain.isEmpty() || sig.selector.isEmpty()) return Fail(error, "empty d= or s=");
    for (const Text& name : WithoutTagSpace(tags.Value("h")).split(':'))
        if (!name.isEmpty()) sig.signedHeaders << name;
    bool from = false;
    for (const Text& name : sig.signedHeaders) from = from || name.toLower() == "from";
    if (!from) return Fail(error, "From is not signed");
    sig.identity = tags.Has("i") ? tags.Value("i") : "@" + sig.domain;
    if (!IdentityFits(sig.identity, sig.domain)) return Fail(error, "i= is outside d=");
    if (tags.Has("q") && !tags.Value("q").toLower().split(':').contains("dns/txt")) return Fail(error, "unknown q=");
    for (auto [name, out] : {std::pair{"l", &sig.length}, {"t", &sig.timestamp}, {"x", &sig.expiry}}) {
        if (!tags.Has(name)) continue;
        *out = Number(tags.Value(name));
        if (!*out) return Fail(error, "a number tag is no number");
    }
    if (sig.timestamp && sig.expiry && *sig.expiry < *sig.timestamp) return Fail(error, "x= before t=");
    return true;
}

}   // namespace

std::optional<DkimSignature> ParseDkimSignature(const Text& value, Text* error) {
    const std::optional<TagList> tags = TagList::Parse(value);
    if (!tags) {
        if (error) *error = "tag list syntax";
        return std::nullopt;
    }
    DkimSignature sig;
    if (!Read(*tags, sig, error)) return std::nullopt;
    return sig;
}

Text WithoutSignatureValue(const Text& field) {
    // The b= tag begins the field's value or follows a ";", with white space
    // allowed before its name and around its "=" (not to be taken for bh=).
    const qsizetype colon = field.indexOf(':');
    qsizetype at = colon < 0 ? 0 : colon + 1;
    while (at < field.size()) {
        qsizetype name = at;
        while (name < field.size() && IsTagSpace(field[name])) ++name;
        qsizetype after = name;
        if (after < field.size() && field[after] == 'b') {
            ++after;
            while (after < field.size() && IsTagSpace(field[after])) ++after;
            if (after < field.size() && field[after] == '=') {
                // The value goes with the white space around it, up to the
                // next ";" or the end (the field comes without its line end).
                const qsizetype end = field.indexOf(';', after);
                return field.left(after + 1) + (end < 0 ? Text() : field.mid(end));
            }
        }
        const qsizetype next = field.indexOf(';', at);
        if (next < 0) break;
        at = next + 1;
    }
    return field;
}
