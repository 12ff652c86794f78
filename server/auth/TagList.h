#pragma once
// The tag lists of DKIM signatures, DKIM key records and DMARC records
// (RFC 6376 section 3.2): "name=value" pairs separated by ";", white space
// (folding included) allowed around names, values and separators.
#include <QList>
#include <optional>
#include "server/store/Text.h"

struct Tag {
    Text name;    // case as written: tag names are case-sensitive
    Text value;   // without the white space around it; inner folding kept
};

class TagList {
public:
    // Nothing on a syntax error or a tag named twice.
    static std::optional<TagList> Parse(const Text& text);

    bool Has(const char* name) const;
    Text Value(const char* name) const;   // "" when missing
    const QList<Tag>& Tags() const { return tags_; }

private:
    QList<Tag> tags_;
};

// White space of a tag value (or any text): space, tab, CR, LF.
bool IsTagSpace(char c);
// The text without any white space (for Base64 values and lists).
Text WithoutTagSpace(const Text& text);
