#pragma once
// The stored order of the IP restriction list: by address, part by part,
// with a "*" part before every number; empty patterns and "0.0.0.0" dropped.
#include "server/store/Text.h"

TextList SortIpPatterns(const TextList& patterns);
// A box of the four-box address entry holds "*" or a number 0 to 255.
bool IsIpPart(const Text& part);
