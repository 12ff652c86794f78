#pragma once
// Header repair, the trace header and the carbon-copy recipients of a
// received message. They work on the header block (lines ended by CR LF).
#include <QDateTime>
#include "server/bbs/ServerContext.h"

// Fills in a missing Subject (empty), Date (now), From (from Sender) and
// "reply-to" (from From).
Text FixInboundHeaders(const Text& head, const QDateTime& now = QDateTime::currentDateTime());

// The three "Received:" lines, each ended by CR LF, for the message whose
// header block is `head`; an IPv6 sending host is written "[IPv6:...]".
Text ReceivedHeader(const ServerContext& ctx, const Text& head, const Text& sendingHost,
                    const QDateTime& now = QDateTime::currentDateTime());
// The header block with the "Received:" lines in front.
Text AddReceivedHeader(const ServerContext& ctx, const Text& head, const Text& sendingHost);

// The header block without any tracking header of the outbound queue (every
// one, in any letter case): a sender's forged stamp or status would steer
// the queue if the message were forwarded to the Internet.
Text RemoveForgedTrackingHeaders(const Text& head);

// A message whose header holds this many "Received:" lines is going round
// in a loop and is refused.
inline constexpr int kMaxHops = 50;

inline constexpr int kMaxCarbonCopyLookups = 1000;

// The recipients widened by the local addresses of the To, Cc and Bcc
// headers (in that order, before the envelope's), joined by ",". At most
// kMaxCarbonCopyLookups distinct addresses are looked up.
Text GetRecipients(const ServerContext& ctx, const Text& head, const Text& recipients);
