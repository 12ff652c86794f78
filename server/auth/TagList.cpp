#include "server/auth/TagList.h"

namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// Any visible character but ";".
bool IsValueChar(char c) { return c >= 0x21 && c <= 0x7e && c != ';'; }

Text TrimTagSpace(const Text& text) {
    qsizetype from = 0, to = text.size();
    while (from < to && IsTagSpace(text[from])) ++from;
    while (to > from && IsTagSpace(text[to - 1])) --to;
    return text.mid(from, to - from);
}

bool IsTagName(const Text& name) {
    if (name.isEmpty() || !IsAlpha(name[0])) return false;
    for (char c : name)
        if (!IsAlpha(c) && !IsDigit(c) && c != '_') return false;
    return true;
}

bool IsTagValue(const Text& value) {
    for (char c : value)
        if (!IsValueChar(c) && !IsTagSpace(c)) return false;
    return true;
}

}   // namespace

bool IsTagSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

Text WithoutTagSpace(const Text& text) {
    Text out;
    out.reserve(text.size());
    for (char c : text)
        if (!IsTagSpace(c)) out += c;
    return out;
}

std::optional<TagList> TagList::Parse(const Text& text) {
    TagList list;
    const QList<Text> tagTexts = text.split(';');
    for (qsizetype i = 0; i < tagTexts.size(); ++i) {
        const Text tagText = TrimTagSpace(tagTexts[i]);
        if (tagText.isEmpty()) {
            if (i == tagTexts.size() - 1) break;   // a trailing ";" is allowed
            return std::nullopt;
        }
        const qsizetype equals = tagText.indexOf('=');
        if (equals < 0) return std::nullopt;
        Tag tag{TrimTagSpace(tagText.left(equals)), TrimTagSpace(tagText.mid(equals + 1))};
        if (!IsTagName(tag.name) || !IsTagValue(tag.value) || list.Has(tag.name.constData())) return std::nullopt;
        list.tags_.append(std::move(tag));
    }
    return list;
}

bool TagList::Has(const char* name) const {
    for (const Tag& tag : tags_)
        if (tag.name == name) return true;
    return false;
}

Text TagList::Value(const char* name) const {
    for (const Tag& tag : tags_)
        if (tag.name == name) return tag.value;
    return {};
}
