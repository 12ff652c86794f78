#include "server/lists/ListEntry.h"

Text BuildListEntry(const ListMember& member, const TextList& values) {
    TextList columns(member.columns);
    for (qsizetype i = 0; i < member.fields.size(); ++i) {
        const EditField& f = member.fields[i];
        const Text typed = values.value(i);
        Text value;
        if (f.kind == FieldKind::Check) {
            value = ValLong(Trim(typed)) > 0 ? "1" : "0";
        } else {
            switch (f.casing) {
            case Casing::AsTyped:
                value = typed;
                break;
            case Casing::Trimmed:
                value = Trim(typed);
                break;
            case Casing::Lower:
                value = LCase(Trim(typed));
                break;
            case Casing::Number:
                value = NumText(ValLong(Trim(typed)));
                break;
            }
        }
        columns[f.column] = value;
    }
    return columns.join(',');
}

Text FieldRefusal(const EditField& field, const Text& typed) {
    if (field.kind != FieldKind::Text) return Text();
    TextList found;
    for (const char* c = field.refused; *c; ++c)
        if (typed.contains(*c)) found << '"' + Text(1, *c) + '"';
    if (typed.contains('\r') || typed.contains('\n')) found << "a line break";
    if (!found.isEmpty())
        return "cannot contain " + found.join(" or ") + ", which the list uses to separate its entries";
    if (field.keys == FieldKeys::Digits)
        for (char c : Trim(typed))
            if (c < '0' || c > '9') return "takes digits only";
    return Text();
}

Text EntryRefusal(const ListMember& member, const Text& entry) {
    if (member.check == OkCheck::BlankSubject && Trim(entry).isEmpty()) return "a blank filter is no entry";
    if (member.check == OkCheck::PassThruUser && ValLong(EntryColumns(member, entry).value(2)) < 1)
        return "the user number cannot be less than one";
    return Text();
}
