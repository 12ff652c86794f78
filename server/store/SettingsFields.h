#pragma once
// The settings record's fields by name, in the record's order, with the
// conversions and checks of the settings dialog: the dialog and the
// command-line tool set a field from typed text the same way.
#include <QList>
#include "server/store/Settings.h"

struct SettingsField {
    enum class Kind { Small, Large, Text, Flag };
    const char* name;
    Kind kind;
    int16_t SettingsRecord::*small = nullptr;   // Small and Flag
    int32_t SettingsRecord::*large = nullptr;
    Text SettingsRecord::*text = nullptr;
    bool digitsOnly = false;   // the dialog's control takes digits only
    bool secret = false;       // a password
    bool readOnly = false;     // kept by the server itself, never typed
};

// Every field of OSPRINE.CFG, in the record's order.
const QList<SettingsField>& SettingsFields();
const SettingsField* FindSettingsField(const Text& name);   // any letter case

// The field's value as text: numbers in decimal, texts trimmed.
Text SettingsFieldText(const SettingsRecord& r, const SettingsField& f);

// Sets a field from text the way the dialog reads its control: numbers read
// leniently and rounded, texts trimmed and cut to the record's 30 bytes,
// flags 0 or 1. False, with the reason, for what the dialog's controls would
// not take (letters in a number, a text longer than the field, a flag other
// than 0 or 1, a read-only field); the record is then unchanged.
bool SetSettingsField(SettingsRecord& r, const SettingsField& f, const Text& typed, Text& why);

// Width of the record's text fields.
inline constexpr int kSettingsTextWidth = 30;
