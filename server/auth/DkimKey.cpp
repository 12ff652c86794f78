#include "server/auth/DkimKey.h"

#include "server/auth/TagList.h"

namespace {

TextList ColonList(const Text& value) {
    TextList out;
    for (const Text& item : WithoutTagSpace(value).split(':'))
        if (!item.isEmpty()) out << item.toLower();
    return out;
}

}   // namespace

std::optional<DkimKey> ParseDkimKey(const Text& record) {
    const std::optional<TagList> tags = TagList::Parse(record);
    if (!tags || !tags->Has("p")) return std::nullopt;
    // v= is optional, but when present it comes first and says DKIM1.
    if (tags->Has("v") && (tags->Tags().first().name != "v" || tags->Value("v") != "DKIM1")) return std::nullopt;
    DkimKey key;
    if (tags->Has("k")) key.keyType = tags->Value("k").toLower();
    key.hashes = ColonList(tags->Value("h"));
    const Text p = WithoutTagSpace(tags->Value("p"));
    if (!p.isEmpty()) {
        auto decoded = QByteArray::fromBase64Encoding(p, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.isEmpty()) return std::nullopt;
        key.publicKey = decoded.decoded;
    }
    for (const Text& flag : ColonList(tags->Value("t"))) {
        if (flag == "y") key.testing = true;
        if (flag == "s") key.sameDomain = true;
    }
    if (tags->Has("s")) {
        const TextList services = ColonList(tags->Value("s"));
        key.emailService = services.contains("email") || services.contains("*");
    }
    return key;
}
