#pragma once
// One entry of a member list, from the values typed for its fields: how the
// edit dialog and osprinectl build it and what they refuse.
#include "server/lists/ListMembers.h"

// The entry for `values`, one per field of the member in its order (a
// check field's value is "1" or "0"): each value cased as its field says,
// put in its column, the columns joined by ",".
Text BuildListEntry(const ListMember& member, const TextList& values);

// Why `typed` cannot go into the field, or "" when it can: the characters
// the list uses as separators, a line break, anything but digits in a
// number field.
Text FieldRefusal(const EditField& field, const Text& typed);

// Why a built entry cannot be stored, or "" when it can (a pass-through
// entry needs a user number of at least one; a blank subject filter is no
// entry).
Text EntryRefusal(const ListMember& member, const Text& entry);
