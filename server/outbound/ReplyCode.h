#pragma once
// Reading the upstream server's replies.
#include "server/store/Text.h"

// The number that the first `digits` characters of the trimmed reply start
// with (0 or less means 3): 250 for "250 OK", with 1 the reply class.
// 0 for an empty reply or one that does not start with a digit.
int16_t GetReplyCode(const Text& text, int digits);
