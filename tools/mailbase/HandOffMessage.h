#pragma once
// An inbound hand-off file ("V" + number + ".D") as the tosser reads it:
// the header fields the e-mail base keeps, and the body.
#include <QDateTime>
#include "server/store/Text.h"

struct HandOffMessage {
    Text to;        // address of the To header ("" when there is none)
    Text from;      // address of the From header, else of Return-Path
    Text subject;   // trimmed
    Text date;      // trimmed Date header value
    Text body;      // every line after the header block, each ended by CR LF,
                    // without the empty lines the hand-off adds at its end
};

HandOffMessage ParseHandOff(const Text& file);

// The date text of an e-mail record: the Date header taken apart at fixed
// character positions and written as weekday, month, day, year, time and
// zone; missing date or time parts come from `now`.
Text EmailDateText(const Text& date, const QDateTime& now);
