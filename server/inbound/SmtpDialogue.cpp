#include "server/inbound/SmtpDialogue.h"

#include "server/address/Recipients.h"
#include "server/bbs/UserDirectory.h"
#include "server/store/Headers.h"
#include "server/store/KeyedList.h"

#include <algorithm>
#include <cstring>

namespace {

const Text kBadSequence = "503 Unexpected command or sequence of commands.";
const Text kNotImplemented = "502 Not implemented.";
const Text kOk = "250 OK.";
const Text kSyntaxError = "501 Syntax error in parameters or arguments.";
// The bad-command limits share ErrorCount: unknown commands count from 1,
// refused or out-of-order ones from 11, and either run switches the count
// over. The fourth unknown command in a row, or the sixteenth refused one,
// ends the session without a reply.
constexpr int16_t kUnknownLimit = 3;
constexpr int16_t kRefusalBase = 10;
constexpr int16_t kRefusalLimit = kRefusalBase + 15;
constexpr int16_t kDataIdleTimeout = 600;
constexpr int16_t kQuitIdleTimeout = 60;

Text Quoted(const Text& s) { return '"' + s + '"'; }

// Keyed setting "esmtp": 1 offers the extensions at EHLO.
bool EsmtpOn(const ServerContext& ctx) { return ValLong(Trim(GetData("esmtp", ctx.KeyedList()))) == 1; }

// A declared size: digits only (RFC 1870), at most 20 of them.
bool IsSizeValue(const Text& value) {
    if (value.isEmpty() || value.size() > 20) return false;
    return std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A line fit to be a command: no NUL, and no CR that a peer could use to
// smuggle a second line into a stored header or a log line.
bool HasForbiddenByte(const Text& line) { return line.contains('\0') || line.contains('\r'); }

// The line as the event log shows it: the forbidden bytes made visible.
Text Shown(const Text& line) {
    Text shown = line;
    for (char& c : shown)
        if (c == '\0' || c == '\r') c = '?';
    return shown;
}

}   // namespace

void SmtpDialogue::Receive(const Text& data) {
    if (ended_) return;
    // Input that arrives while a command's work is pending waits its turn.
    slot_.LineBuffer += data;
    Process();
}

// Takes command lines off the buffer, one at a time, until the dialogue
// has to wait, ends, or has no complete line left. A line ends at LF (CR LF
// or a bare LF), wherever the stream was cut, so a line can never hold one.
void SmtpDialogue::Process() {
    // An answer that comes back at once (an intake without a scan) resumes
    // this loop, not a second one.
    if (processing_) return;
    processing_ = true;
    Text& buffer = slot_.LineBuffer;
    qsizetype start = 0;   // the next unread byte; consumed bytes go at the end
    while (!ended_ && !waiting_) {
        if (slot_.DialogueState == SmtpState::ReceivingData) {
            buffer.remove(0, start);
            start = 0;
            CollectData();
            if (slot_.DialogueState == SmtpState::ReceivingData) break;
            continue;
        }
        const char* begin = buffer.constData();
        const qsizetype from = std::max(start, lineScanned_);
        const void* lf = memchr(begin + from, '\n', size_t(buffer.size() - from));
        if (!lf) {
            lineScanned_ = buffer.size();
            if (buffer.size() - start > kMaxLineLength) LineTooLong();
            break;
        }
        const qsizetype next = static_cast<const char*>(lf) - begin + 1;
        qsizetype end = next - 1;
        if (end > start && begin[end - 1] == '\r') --end;
        const Text line = buffer.mid(start, end - start);
        start = next;
        lineScanned_ = next;
        if (line.size() > kMaxLineLength) {
            LineTooLong();
            break;
        }
        ++slot_.Progress;
        Command(line);
        if (discardInput_) {
            discardInput_ = false;
            start = buffer.size();
        }
    }
    if (!ended_) {
        buffer.remove(0, start);
        lineScanned_ = std::max<qsizetype>(0, lineScanned_ - start);
    }
    processing_ = false;
}

void SmtpDialogue::LineTooLong() {
    slot_.LineBuffer.clear();
    lineScanned_ = 0;
    Reply("500 Line too long.");
    EndSession();
}

namespace {
constexpr uint8_t In(SmtpState state) { return uint8_t(1u << int(state)); }
constexpr uint8_t kAnyState = 0xff;
}   // namespace

// The commands, as RFC 821 has them (EHLO answered like HELO) and STARTTLS.
// HELO and EHLO set their idle value and reset the count in Greet, after the
// block-list test; VRFY and EXPN leave the count alone.
const SmtpDialogue::CommandRow SmtpDialogue::kCommands[] = {
    {"EHLO", 0, kAnyState, Syntax::Any, false, nullptr, nullptr, &SmtpDialogue::Helo},
    {"HELO", 0, kAnyState, Syntax::Any, false, nullptr, nullptr, &SmtpDialogue::Helo},
    {"MAIL", kDefaultIdleTimeout, In(SmtpState::Greeted), Syntax::Path, true, nullptr, nullptr, &SmtpDialogue::Mail},
    {"RCPT", kDefaultIdleTimeout, In(SmtpState::HaveSender) | In(SmtpState::HaveRecipients), Syntax::Path, true,
     nullptr, &SmtpDialogue::LearnRecipient, &SmtpDialogue::Rcpt},
    {"DATA", kDataIdleTimeout, In(SmtpState::HaveRecipients), Syntax::Any, true, nullptr, nullptr, &SmtpDialogue::Data},
    {"RSET", kDefaultIdleTimeout, kAnyState, Syntax::Any, true, nullptr, nullptr, &SmtpDialogue::Rset},
    {"VRFY", kDefaultIdleTimeout, kAnyState, Syntax::Any, false, nullptr, nullptr, &SmtpDialogue::Vrfy},
    {"EXPN", kDefaultIdleTimeout, kAnyState, Syntax::Any, false, nullptr, nullptr, &SmtpDialogue::Expn},
    {"HELP", kDefaultIdleTimeout, kAnyState, Syntax::Any, true, nullptr, nullptr, &SmtpDialogue::Help},
    {"NOOP", kDefaultIdleTimeout, kAnyState, Syntax::Any, true, nullptr, nullptr, &SmtpDialogue::Noop},
    {"TURN", kDefaultIdleTimeout, kAnyState, Syntax::Any, true, nullptr, nullptr, &SmtpDialogue::Turn},
    {"QUIT", kQuitIdleTimeout, kAnyState, Syntax::Any, true, nullptr, nullptr, &SmtpDialogue::Quit},
    {"SEND", kDefaultIdleTimeout, kAnyState, Syntax::Any, true, nullptr, nullptr, &SmtpDialogue::NotImplemented},
    {"SOML", kDefaultIdleTimeout, kAnyState, Syntax::Any, true, nullptr, nullptr, &SmtpDialogue::NotImplemented},
    {"SAML", kDefaultIdleTimeout, kAnyState, Syntax::Any, true, nullptr, nullptr, &SmtpDialogue::NotImplemented},
    {"STARTTLS", kDefaultIdleTimeout, kAnyState, Syntax::None, true, &SmtpDialogue::TlsOffered, nullptr,
     &SmtpDialogue::StartTls},
};

const SmtpDialogue::CommandRow* SmtpDialogue::FindCommand(const Text& word) {
    for (const CommandRow& row : kCommands)
        if (word == row.word) return &row;
    return nullptr;
}

void SmtpDialogue::Command(const Text& line) {
    if (HasForbiddenByte(line)) {
        ctx_.Log().Report(slotNumber_, "--> " + Shown(line));
        SequenceRule(kSyntaxError);
        return;
    }
    const TextList pieces = Explode(" ", line, 2, 2);
    const Text word = UCase(pieces[0]);
    const Text& argument = pieces[1];
    ctx_.Log().Report(slotNumber_, "--> " + line);

    const CommandRow* row = FindCommand(word);
    if (row && row->available && !(this->*row->available)()) row = nullptr;
    if (!row) {
        slot_.IdleTimeout = kDefaultIdleTimeout;
        UnknownCommand();
        return;
    }
    if (row->idle > 0) slot_.IdleTimeout = row->idle;
    const bool syntaxOk = row->syntax == Syntax::Path   ? GetPath(argument).size() <= kMaxPathLength
                          : row->syntax == Syntax::None ? Trim(argument).isEmpty()
                                                        : true;
    if (!syntaxOk) {
        SequenceRule(kSyntaxError);
        return;
    }
    if (row->firstStep) (this->*row->firstStep)(argument);
    if (!(row->states & In(slot_.DialogueState))) {
        SequenceRule(kBadSequence);
        return;
    }
    if ((this->*row->handle)(word, argument) == Outcome::Accepted && row->resets) Resets();
}

SmtpDialogue::Outcome SmtpDialogue::Helo(const Text& command, const Text& argument) {
    if (!On(ctx_.Settings().RelayEnable)) {
        Greet(command, argument);
        return Outcome::Accepted;
    }
    Wait();
    host_.CheckRelayTest([this, command, argument](bool passed) {
        waiting_ = false;
        if (passed) {
            Greet(command, argument);
        } else {
            ++ctx_.Stats().BlockedRelays;
            ctx_.Stats().UpdateStats();
            Reply("421 " + Trim(argument) + " is listed as an open relay. Ending session.");
            EndSession();
        }
        Resume();
    });
    return Outcome::Pending;
}

// HELO and EHLO once the block-list test (if any) has passed.
void SmtpDialogue::Greet(const Text& command, const Text& argument) {
    slot_.IdleTimeout = kDefaultIdleTimeout;
    slot_.DialogueState = SmtpState::Greeted;
    slot_.HeloName = Trim(argument);
    Resets();
    ClearEnvelope();
    const bool ehlo = command == "EHLO";
    const Text name = ehlo ? Trim(argument) : Trim(slot_.PeerAddress);
    TextList lines{"Welcome " + name + ", pleased to meet you."};
    extended_ = ehlo && EsmtpOn(ctx_);
    if (extended_)
        lines << "SIZE " + NumText(ctx_.Settings().MaxMailSize) << "8BITMIME"
              << "PIPELINING";
    if (ehlo && host_.TlsOffered()) lines << "STARTTLS";
    for (qsizetype i = 0; i < lines.size(); ++i) lines[i].prepend(i + 1 < lines.size() ? "250-" : "250 ");
    Reply(lines);
}

SmtpDialogue::Outcome SmtpDialogue::Mail(const Text&, const Text& argument) {
    if (extended_ && !MailParameters(argument)) return Outcome::Refused;
    slot_.DialogueState = SmtpState::HaveSender;
    slot_.Sender = GetPath(argument);
    Reply("250 Sender " + Quoted(slot_.Sender) + " OK...");
    return Outcome::Accepted;
}

// SIZE=n (refused at once when above MaxMailSize, before any data is sent)
// and BODY=7BIT or 8BITMIME; every other parameter is refused.
bool SmtpDialogue::MailParameters(const Text& argument) {
    const qsizetype pathEnd = argument.indexOf('>');
    const Text parameters = pathEnd < 0 ? Text() : argument.mid(pathEnd + 1).simplified();
    if (parameters.isEmpty()) return true;
    for (const Text& parameter : parameters.split(' ')) {
        const qsizetype eq = parameter.indexOf('=');
        const Text keyword = UCase(parameter.left(eq));
        const Text value = eq < 0 ? Text() : parameter.mid(eq + 1);
        if (keyword == "SIZE" && IsSizeValue(value)) {
            bool fits = false;   // more than 64 bits is above every limit
            const qulonglong size = value.toULongLong(&fits);
            if (!fits || size > qulonglong(std::max<int32_t>(ctx_.Settings().MaxMailSize, 0))) {
                SequenceRule("552 Message size exceeds fixed maximum message size.");
                return false;
            }
        } else if (keyword != "BODY" || (UCase(value) != "7BIT" && UCase(value) != "8BITMIME")) {
            SequenceRule("555 MAIL FROM parameters not recognized.");
            return false;
        }
    }
    return true;
}

// RCPT's first step, in every state and never a refusal: a BBS user named
// by an address the handle index does not know yet is learned.
void SmtpDialogue::LearnRecipient(const Text& argument) {
    if (!On(ctx_.Settings().AutoVerify)) return;
    const Text address = GetPath(argument);
    if (CheckTo(ctx_, address)) return;
    if (const int32_t n = FindUser(ctx_, address); n > 0) AddVerifiedUser(ctx_, n, address);
}

SmtpDialogue::Outcome SmtpDialogue::Rcpt(const Text&, const Text& argument) {
    const Text address = GetPath(argument);
    // Neither a refusal nor an acceptance: the error count stays as it is.
    if (slot_.RecipientCount >= kMaxRecipients) {
        ++ctx_.Stats().TooManyRecipients;
        ctx_.Stats().UpdateStats();
        Reply("452 Too many recipients.");
        return Outcome::Answered;
    }
    const bool domain = CheckDomain(ctx_, address);
    const bool pass = CheckPassThru(ctx_, address);
    const bool to = CheckTo(ctx_, address);
    if (address.isEmpty() || !domain || (!to && !pass)) {
        SequenceRule("550 Unknown user. (" + address + ")");
        return Outcome::Refused;
    }
    const bool flags = CheckUserFlags(ctx_, FindUser(ctx_, address));
    if (On(ctx_.Settings().CheckFlags) && !flags && !pass) {
        SequenceRule("550 User does not contain sufficient access. (" + address + ")");
        return Outcome::Refused;
    }
    slot_.DialogueState = SmtpState::HaveRecipients;
    if (!slot_.Recipients.isEmpty()) slot_.Recipients += ',';
    slot_.Recipients += address;
    ++slot_.RecipientCount;
    Reply("250 Recipient " + Quoted(address) + " OK...");
    return Outcome::Accepted;
}

SmtpDialogue::Outcome SmtpDialogue::Data(const Text&, const Text&) {
    slot_.DialogueState = SmtpState::ReceivingData;
    lineScanned_ = 0;   // a new message: nothing of the buffer has been looked at
    Reply("354 Begin data transfer. Mark the end of the transfer with <CRLF>.<CRLF>");
    return Outcome::Accepted;
}

SmtpDialogue::Outcome SmtpDialogue::Rset(const Text&, const Text&) {
    if (slot_.DialogueState != SmtpState::Connected) slot_.DialogueState = SmtpState::Greeted;
    ClearEnvelope();
    Reply(kOk);
    return Outcome::Accepted;
}

SmtpDialogue::Outcome SmtpDialogue::Vrfy(const Text&, const Text& argument) {
    if (!On(ctx_.Settings().AllowVrfy)) {
        Reply(kNotImplemented);
        return Outcome::Answered;
    }
    Text matched;
    const int32_t n = FindUser(ctx_, Trim(argument), &matched);
    if (n <= 0) {
        Reply("550 User not found.");
        return Outcome::Answered;
    }
    const Text mailbox = LCase(StrReplace(Trim(matched), " ", "."));
    Reply("250 " + GetUser(ctx_.Bbs(), n).Handle() + " <" + mailbox + "@" + GetSystemId(ctx_.Bbs()) + ">");
    return Outcome::Answered;
}

SmtpDialogue::Outcome SmtpDialogue::Expn(const Text&, const Text& argument) {
    if (!On(ctx_.Settings().AllowExpn)) {
        Reply(kNotImplemented);
        return Outcome::Answered;
    }
    TextList members;
    // A list without members has nothing to show: it is answered as unknown.
    if (!FindMaillist(ctx_, Trim(argument), members) || members.isEmpty()) {
        Reply("550 Mailing list not found.");
        return Outcome::Answered;
    }
    TextList lines;
    for (qsizetype i = 0; i < members.size(); ++i)
        lines << (i + 1 < members.size() ? "250-<" : "250 <") + Trim(members[i]) + ">";
    Reply(lines);
    return Outcome::Answered;
}

SmtpDialogue::Outcome SmtpDialogue::Help(const Text&, const Text&) {
    Reply("211 Sorry, you are on your own.");
    return Outcome::Accepted;
}

SmtpDialogue::Outcome SmtpDialogue::Noop(const Text&, const Text&) {
    Reply(kOk);
    return Outcome::Accepted;
}

SmtpDialogue::Outcome SmtpDialogue::Turn(const Text&, const Text&) {
    Reply("550 NOPE.");
    return Outcome::Accepted;
}

SmtpDialogue::Outcome SmtpDialogue::NotImplemented(const Text&, const Text&) {
    Reply(kNotImplemented);
    return Outcome::Accepted;
}

// RFC 3207: after the handshake the session starts over, as if just
// connected; commands pipelined behind STARTTLS are dropped unread.
SmtpDialogue::Outcome SmtpDialogue::StartTls(const Text&, const Text&) {
    Reply("220 Ready to start TLS");
    slot_.DialogueState = SmtpState::Connected;
    ClearEnvelope();
    discardInput_ = true;
    host_.StartTls();
    return Outcome::Accepted;
}

SmtpDialogue::Outcome SmtpDialogue::Quit(const Text&, const Text&) {
    Reply("221 Have a nice day!");
    EndSession();
    return Outcome::Accepted;
}

namespace {
// A body grows by a quarter at a time instead of doubling, so a large
// message leaves little slack; growing an unshared buffer reallocates in place.
void GrowBody(Text& body, qsizetype needed) {
    if (body.capacity() < needed) body.reserve(std::max(needed, body.capacity() + body.capacity() / 4));
}
}   // namespace

// Data collection. Every complete line goes into Body at once, exactly as
// it came; only CR LF "." CR LF ends the message, however the stream is cut
// (a bare LF is text, so a "." LF line cannot end it early). The end mark is
// looked for only in the new text and the four bytes before it, so a message
// costs time linear in its size.
void SmtpDialogue::CollectData() {
    Text& buffer = slot_.LineBuffer;
    if (slot_.BodyDiscarded) {
        buffer.clear();
        lineScanned_ = 0;
        return;
    }
    Text& body = slot_.Body;
    // Only the text that arrived since the last look can hold a line feed.
    const char* begin = buffer.constData();
    const qsizetype from = std::min(lineScanned_, buffer.size());
    const void* lf = memrchr(begin + from, '\n', size_t(buffer.size() - from));
    lineScanned_ = buffer.size();
    if (lf) {
        const qsizetype lineEnd = static_cast<const char*>(lf) - begin;
        const qsizetype searchFrom = std::max<qsizetype>(0, body.size() - 4);
        GrowBody(body, body.size() + lineEnd + 1);
        const qsizetype kilobytesBefore = body.size() / 1024;
        body.append(begin, lineEnd + 1);
        slot_.Progress += uint64_t(body.size() / 1024 - kilobytesBefore);
        buffer.remove(0, lineEnd + 1);
        lineScanned_ = buffer.size();
        // memmem: many times faster than QByteArray::indexOf on a long body.
        static constexpr char kEndMark[] = "\r\n.\r\n";
        const void* found =
            memmem(body.constData() + searchFrom, size_t(body.size() - searchFrom), kEndMark, sizeof kEndMark - 1);
        const qsizetype mark = found ? static_cast<const char*>(found) - body.constData() : -1;
        if (mark >= 0) {
            TakeCommandsAfter(mark);
            lineScanned_ = 0;
            EndOfData(mark);
            return;
        }
    }
    // Text still waiting for its line end counts toward the limit as well.
    if (body.size() + buffer.size() > ctx_.Settings().MaxMailSize)
        AbortData("552 Message has exceeded storage allocation. Message aborted.");
}

// Text behind the end mark: with PIPELINING offered, the next commands of
// the client's group (RFC 2920), handled after the message's reply; without
// it, dropped.
void SmtpDialogue::TakeCommandsAfter(qsizetype markPosition) {
    Text& buffer = slot_.LineBuffer;
    const qsizetype end = markPosition + 5;
    if (!extended_) {
        buffer.clear();
        return;
    }
    buffer.prepend(slot_.Body.mid(end));
    slot_.Body.truncate(end);
}

void SmtpDialogue::EndOfData(qsizetype markPosition) {
    Text& body = slot_.Body;
    if (body.size() > ctx_.Settings().MaxMailSize) {
        AbortData("552 Message has exceeded storage allocation. Message was not saved.");
        return;
    }
    body.truncate(markPosition);
    slot_.DialogueState = SmtpState::Greeted;
    slot_.ErrorCount = 0;

    ReceivedMessage message;
    message.returnPath = slot_.Sender;
    message.recipients = slot_.Recipients;
    message.message = body;
    message.slot = slotNumber_;
    message.sendingHost = slot_.PeerAddress;
    message.helo = slot_.HeloName;
    const qsizetype length = body.size();
    Wait();
    host_.SaveMessage(message, [this, length, refusal = message.refusal](SaveResult result) {
        waiting_ = false;
        MessageSaved(result, length, *refusal);
        Resume();
    });
}

void SmtpDialogue::MessageSaved(SaveResult result, qsizetype length, const Text& refusal) {
    const Text received = "250 Received data (" + NumText(length) + " bytes).";
    switch (result) {
    case SaveResult::Saved:
        Reply(received);
        break;
    case SaveResult::NotSaved:
        Reply(received + " Message was not saved.");
        break;
    case SaveResult::LocalError:
        Reply("451 Requested action aborted: local error in processing.");
        break;
    case SaveResult::TooManyHops:
        Reply("554 Too many hops: mail loop.");
        break;
    case SaveResult::Refused:
        Reply(refusal);
        break;
    }
    ClearEnvelope();
}

void SmtpDialogue::AbortData(const Text& reply) {
    slot_.Body.clear();
    slot_.Body.squeeze();
    slot_.BodyDiscarded = true;
    slot_.LineBuffer.clear();
    lineScanned_ = 0;
    Reply(reply);
    EndSession();
}

void SmtpDialogue::Reply(const Text& reply) {
    ctx_.Log().Report(slotNumber_, "<-- " + reply);
    host_.SendMessage(reply + CRLF);
}

void SmtpDialogue::Reply(const TextList& lines) {
    Text out;
    for (const Text& line : lines) {
        ctx_.Log().Report(slotNumber_, "<-- " + line);
        out += line + CRLF;
    }
    host_.SendMessage(out);
}

// Refused or out-of-order commands: the sixteenth in a row ends the session.
void SmtpDialogue::SequenceRule(const Text& reply) {
    if (slot_.ErrorCount < kRefusalBase) slot_.ErrorCount = kRefusalBase;
    if (++slot_.ErrorCount > kRefusalLimit) {
        EndSession();
        return;
    }
    Reply(reply);
}

// Unknown commands: the fourth in a row ends the session.
void SmtpDialogue::UnknownCommand() {
    if (slot_.ErrorCount >= kRefusalBase) slot_.ErrorCount = 0;
    if (++slot_.ErrorCount > kUnknownLimit) {
        EndSession();
        return;
    }
    Reply("500 Unknown command.");
}

void SmtpDialogue::ClearEnvelope() {
    slot_.Sender.clear();
    slot_.Recipients.clear();
    slot_.RecipientCount = 0;
    slot_.Body.clear();
    slot_.BodyDiscarded = false;
}

void SmtpDialogue::EndSession() {
    ended_ = true;
    host_.EndSession();
}

void SmtpDialogue::Resume() {
    if (!ended_) Process();
}
