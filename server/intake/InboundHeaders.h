#pragma once
// Header repair, the trace header and the carbon-copy recipients of a
// received message. They work on the header block (lines ended by CR LF).
#include <QDateTime>
#include "server/bbs/ServerContext.h"
#include "server/store/HeaderView.h"

// Fills in a missing Subject (empty), Date (now), From (from Sender) and
// "reply-to" (from From).
void FixInboundHeaders(HeaderView& header, const QDateTime& now = QDateTime::currentDateTime());
// The same on a header block's text.
Text FixInboundHeaders(const Text& head, const QDateTime& now = QDateTime::currentDateTime());

// The three "Received:" lines, each ended by CR LF, for the message whose To
// field is `to`; an IPv6 sending host is written "[IPv6:...]".
Text ReceivedHeader(const ServerContext& ctx, const Text& to, const Text& sendingHost,
                    const QDateTime& now = QDateTime::currentDateTime());

// Takes out every tracking header of the outbound queue (in any letter
// case): a sender's forged stamp or status would steer the queue if the
// message were forwarded to the Internet.
void RemoveForgedTrackingHeaders(HeaderView& header);

// A message whose header holds this many "Received:" lines is going round
// in a loop and is refused.
inline constexpr int kMaxHops = 50;

inline constexpr int kMaxCarbonCopyLookups = 1000;

// The recipients widened by the local addresses of the To, Cc and Bcc
// headers (in that order, before the envelope's), joined by ",". At most
// kMaxCarbonCopyLookups distinct addresses are looked up.
Text GetRecipients(const ServerContext& ctx, const HeaderView& header, const Text& recipients);
