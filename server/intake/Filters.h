#pragma once
// The header filter ("headerfilter" rows: header name "," phrase) and the
// subject filter ("subjectfilter" rows: a phrase) of received mail.
#include "server/store/HeaderView.h"

// The event text that deletes the message, or "" when it passes.
Text ApplyHeaderFilter(const Text& rows, const HeaderView& header);
Text ApplySubjectFilter(const Text& rows, const HeaderView& header);
