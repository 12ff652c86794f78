#include "server/intake/Filters.h"

namespace {
const Text kNewFilter = "*** NEW FILTER ***";
}

Text ApplyHeaderFilter(const Text& rows, const HeaderView& header) {
    if (Trim(rows).isEmpty()) return {};
    for (const Text& row : Explode(";", rows)) {
        const TextList columns = Explode(",", row, 2, 2);
        const Text name = Trim(columns[0]);
        const Text phrase = Trim(columns[1]);
        if (UCase(phrase) == kNewFilter || SameText(name, "X-Filter") || name.isEmpty()) continue;
        const Text value = Trim(header.Value(name));
        if (phrase.isEmpty()) {
            if (value.isEmpty()) return "Email HEADER (" + name + ") is blank or non-existant. Message deleted.";
            continue;
        }
        if (value.isEmpty()) continue;
        if (UCase(value).contains(UCase(phrase)))
            return "Email HEADER (" + name + ") contains filtered phrase \"" + phrase + "\". Message deleted.";
    }
    return {};
}

Text ApplySubjectFilter(const Text& rows, const HeaderView& header) {
    if (rows.isEmpty()) return {};
    const Text subject = Trim(header.Value("Subject"));
    for (const Text& row : Explode(";", rows)) {
        if (UCase(Trim(row)) == kNewFilter || row.isEmpty()) continue;
        if (subject.contains(row)) return "Email SUBJECT contains filtered phrase \"" + row + "\". Message deleted.";
    }
    return {};
}
