#pragma once
// Text steps that turn a queue file into what is sent upstream.
#include <QDateTime>
#include "server/store/Headers.h"

inline constexpr const char* kReturnedStatus = "RETURNED";

// A queue file's text split at its attachment section (from the first
// CR LF + "Content-Type: application"), which travels unchanged.
struct QueueText {
    Text message;
    Text attachment;
};
QueueText SplitAttachment(const Text& text);

// Gives the "Date" header the local zone (creating it from `now` when it is
// missing or blank) and the date in the "Received" header the same value.
// Applying it twice gives the same text.
Text FixOutboundHeaders(const Text& text, const QDateTime& now = QDateTime::currentDateTime());

// Every line passed through ConvertTo7Bit.
Text MessageTo7Bit(const Text& text);

// The envelope address of a "From" or "To" value: the bare address, and of
// that only the part before a blank.
Text EnvelopeAddress(const Text& headerValue);

// SMTP transparency: one more "." before every line that begins with ".".
// Lone CR and LF become CR LF first, so no line end can be misread by the
// receiving server as the end of the data.
Text AddTransparencyDots(const Text& text);

// Whether the message is itself a return notice ("X-OSPRINE-Status" RETURNED,
// any letter case, blanks ignored).
bool IsReturnedMessage(const Text& message);

// The message without the three tracking headers.
Text RemoveTrackingHeaders(const Text& message);
