#pragma once
// The message as a DKIM signature sees it: its header fields one by one,
// its body, and the two canonicalizations of each (RFC 6376 section 3.4).
#include <QByteArrayView>
#include <QList>
#include "server/store/HeaderView.h"

struct SplitMail {
    QList<HeaderField> fields;
    QByteArrayView body;   // after the empty line; empty when there is none
};

// The header fields and the body of a message whose lines end in CR LF.
SplitMail SplitForDkim(QByteArrayView message);

// One header field, simple or relaxed, with its final CR LF.
Text CanonicalHeader(const HeaderField& field, bool relaxed);
// The body, simple or relaxed.
Text CanonicalBody(QByteArrayView body, bool relaxed);
