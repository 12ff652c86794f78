#pragma once
// The members of the list-editor family: what each list's pair of dialogs
// shows and stores, and the rules an entry follows. One list dialog and one
// edit dialog serve them all; osprinectl edits the same lists by the same rules.
#include "server/bbs/BbsConfig.h"
#include "server/store/Text.h"

#include <QList>

enum class FieldKind { Text, Check };

enum class FieldKeys {
    Any,         // every key
    Refuse,      // the keys in `refused` are discarded
    AliasName,   // "," and ";" discarded, a space becomes "."
    Digits,      // digits only
};

enum class Casing { AsTyped, Trimmed, Lower, Number };

struct EditField {
    const char* name;   // object name of the control
    FieldKind kind;
    const char* caption;   // label or checkbox text
    const char* toolTip;
    int column;   // column of the entry, from 0
    FieldKeys keys;
    const char* refused;   // typed keys refused, also refused when pasted
    Casing casing;
};

enum class OkCheck { None, BlankSubject, PassThruUser };

struct ListMember {
    const char* listForm;
    const char* editForm;
    const char* title;
    const char* editTitle;
    const char* frameName;       // list frame: name + " (" + count + ")"
    const char* editFrameName;   // edit frame: name + index + " / " + count
    Text key;                    // keyed list; empty for TWIT.LST
    Text newEntry;
    int limit;
    int columns;   // 1: the entry is one text, never split at ","
    Text (*line)(const BbsConfig& bbs, const TextList& columns);
    QList<EditField> fields;
    OkCheck check;
};

const QList<ListMember>& ListMembers();
const ListMember* FindListMember(const QString& listForm);

// Storage of a member: its keyed-list row or TWIT.LST.
TextList LoadEntries(const BbsConfig& bbs, const ListMember& member);
void SaveEntries(const BbsConfig& bbs, const ListMember& member, const TextList& entries);
TextList EntryColumns(const ListMember& member, const Text& entry);
QString TwitListPath(const BbsConfig& bbs);
