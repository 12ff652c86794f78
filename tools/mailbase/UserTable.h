#pragma once
// The BBS's users as the tosser needs them: read once per run from
// "USERFILE.DAT" and "HANDLES.UIP", then looked up by name in constant time.
#include <QHash>
#include <QList>
#include <cstdint>
#include "server/bbs/BbsConfig.h"

class UserTable {
public:
    // Reads the user file of `bbs` (data directory) and the handle index
    // (main directory). Missing files give an empty table.
    static UserTable Load(const BbsConfig& bbs);
    // A table from a user file's bytes and a handle index's text.
    static UserTable FromBytes(const Text& userFile, const Text& handlesUip);

    int32_t Count() const { return int32_t(handles_.size()); }
    Text Handle(int32_t number) const;   // trimmed; "" outside the file

    // The user a local part names: a handle of the index, a user name (spaces
    // and dots alike, any case) or a user number; 0 when none.
    int32_t Find(const Text& localPart) const;
    // The user the local part of `address` names, or user 1 (the sysop), so
    // that mail for nobody known is never lost.
    int32_t Recipient(const Text& address) const;

private:
    void AddName(const Text& name, int32_t number);
    bool Exists(int32_t number) const { return !Handle(number).isEmpty(); }

    QList<Text> handles_;           // record n at index n - 1
    QHash<Text, int32_t> byName_;   // lower-cased, spaces as dots
};

// The lookup form of a name: trimmed, lower-cased, spaces replaced by dots.
Text NameKey(const Text& name);
