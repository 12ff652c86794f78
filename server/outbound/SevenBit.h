#pragma once
// The 7-bit line filter of outgoing text.
#include "server/store/Text.h"

// Clears the top bit of every byte (233 becomes 105). Used line by line.
Text ConvertTo7Bit(const Text& text);
