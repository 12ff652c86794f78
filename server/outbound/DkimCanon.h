#pragma once
// The "relaxed" canonicalisation of DKIM (RFC 6376 3.4.2 and 3.4.4): what a
// signer hashes and a verifier recomputes, so that the usual rewrapping and
// blank changes in transit do not break a signature.
#include "server/store/Text.h"

// One header field of a message: its name and the whole field as it stands,
// continuation lines included, without the final CR LF.
struct HeaderField {
    Text name;
    Text field;
};

// The fields of the header block (everything before the first empty line)
// of a message whose lines end in CR LF.
QList<HeaderField> HeaderFields(const Text& message);

// The body: everything after the first empty line; empty without one.
Text MessageBody(const Text& message);

// "name:value" with the name in lower case, the value unfolded, runs of
// blanks made one space and blanks at its ends removed; no CR LF.
Text RelaxedHeader(const Text& field);

// Runs of blanks made one space, blanks at line ends removed, empty lines
// at the end removed, and a non-empty body ending in CR LF.
Text RelaxedBody(const Text& body);
