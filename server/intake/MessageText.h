#pragma once
// A received message taken apart for the intake: its header block, its body
// and its attachment tail. The header procedures work on the header block
// alone, so a body line that looks like a header is never edited, and a
// large body is copied once at most.
#include <QByteArrayView>
#include "server/store/Text.h"

struct MessageText {
    Text head;              // header lines, each ended by CR LF
    Text body;              // the text after the empty line, without trailing CR LF pairs
    bool hasBody = false;   // the message had an empty line
    Text tail;              // attachment tail, CR LF + TAB turned into a space, without trailing CR LF pairs
};

// The leading part of a message that holds its whole header block (up to and
// including the first line that is empty or blank), for reading header fields.
QByteArrayView HeaderBlock(const Text& message);

// Cuts the attachment tail (from the first CR LF + "Content-Type: application"),
// turns every line end into CR LF and splits header block from body. A body
// or tail that needs no change is not copied but refers to the bytes of
// `message`, so `message` must outlive the result (and must not change).
MessageText SplitMessage(const Text& message);

// Every line that begins with ".." loses its first character (in place).
void UndoDotStuffing(Text& text);

// The pieces of a text with the text's trailing CR LF pairs removed; pieces
// that become empty at the end are dropped. Every piece must hold whole CR LF pairs.
void StripTrailingCrLf(TextList& pieces);

// Total number of bytes of the pieces.
qsizetype PiecesLength(const TextList& pieces);
