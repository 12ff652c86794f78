#pragma once
// What the SMTP dialogue hands a complete message to at the end of DATA.
// The intake may finish later (the spam scan waits asynchronously); the
// session sends its reply when `done` is called.
#include <functional>
#include <memory>
#include "server/store/Text.h"

struct ReceivedMessage {
    Text returnPath;   // MAIL FROM address without brackets
    Text recipients;   // accepted RCPT addresses joined by ","
    Text message;      // DATA text as received, dot-stuffing in place
    int16_t slot = 0;
    Text sendingHost;   // the client's dotted IPv4 address
    Text helo;          // the name the client gave with HELO or EHLO
    // Where the intake leaves the reply of SaveResult::Refused.
    std::shared_ptr<Text> refusal = std::make_shared<Text>();
    // The intake's Authentication-Results header (sender checks on), else "",
    // and the authserv-id it names.
    Text authResults;
    Text authservId;
};

enum class SaveResult {
    Saved,         // at least one copy handed on: "250 Received data (N bytes)."
    NotSaved,      // deleted by a rule or nobody to hand it to: "Message was not saved."
    LocalError,    // a copy could not be stored: "451 Requested action aborted: local error in processing."
    TooManyHops,   // the header shows a mail loop: "554 Too many hops: mail loop."
    Refused,       // a sender-authentication policy refused it: the reply is *refusal
};

class MessageSaver {
public:
    virtual ~MessageSaver() = default;
    virtual void SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) = 0;
};
