#pragma once
// The server side of the SMTP conversation on one session slot: bytes in,
// replies out. It knows RFC 821's commands (EHLO is answered like HELO) and
// STARTTLS (RFC 3207) when the session can offer it. With keyed setting
// "esmtp" = 1, EHLO also offers SIZE (RFC 1870), 8BITMIME (RFC 6152) and
// PIPELINING (RFC 2920), and MAIL takes their parameters.
// The socket, the block-list test and the intake are reached through a
// DialogueHost, so the dialogue runs the same with or without a network.
#include <functional>
#include "server/bbs/ServerContext.h"
#include "server/inbound/MessageSaver.h"
#include "server/inbound/SessionSlot.h"

class DialogueHost {
public:
    virtual ~DialogueHost() = default;
    // Puts bytes on the session's socket (nothing when it is not connected).
    virtual void SendMessage(const Text& text) = 0;
    // Ends the session once what was sent has gone out.
    virtual void EndSession() = 0;
    // The DNS block-list test of the peer's address; `done(passed)` comes later.
    virtual void CheckRelayTest(std::function<void(bool passed)> done) = 0;
    // Hands a received message on; `done` comes later.
    virtual void SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) = 0;
    // A certificate is loaded and the session is not encrypted yet.
    virtual bool TlsOffered() const { return false; }
    // Starts the TLS handshake behind the reply just sent. What the peer sent
    // before it is never read: it came in clear text.
    virtual void StartTls() {}
};

class SmtpDialogue {
public:
    // Longest command line; longer ones end the session with "500 Line too long.".
    static constexpr qsizetype kMaxLineLength = 65536;
    // Longest MAIL or RCPT path (RFC 5321, 4.5.3.1.3); longer ones get 501.
    static constexpr qsizetype kMaxPathLength = 256;
    // Accepted recipients of one message (RFC 5321's minimum); more get 452.
    static constexpr int kMaxRecipients = 100;

    SmtpDialogue(ServerContext& ctx, SessionSlot& slot, int16_t slotNumber, DialogueHost& host)
        : ctx_(ctx), slot_(slot), slotNumber_(slotNumber), host_(host) {}

    // Takes the bytes the peer sent, one command line at a time, one reply
    // each. While the dialogue waits for the block-list test or the intake,
    // input is kept and handled, in order, afterwards.
    void Receive(const Text& data);
    // Waiting for the block-list test or the intake to answer.
    bool Waiting() const { return waiting_; }
    bool Ended() const { return ended_; }

private:
    // What a command's handler made of it. An accepted command of a row that
    // resets starts the error count again; the others leave it as it is.
    enum class Outcome {
        Accepted,   // replied with success
        Refused,    // answered under the sequence rule (503, 550)
        Answered,   // replied without a verdict on the client (VRFY, EXPN, 452)
        Pending,    // the reply comes later (HELO and EHLO after the block-list test)
    };
    // What a command's argument must be.
    enum class Syntax { Any, Path, None };
    // One row of the command table; every command is checked in the same
    // order: available, idle value, syntax, the row's first step, state.
    struct CommandRow {
        const char* word;
        int16_t idle;                                       // IdleTimeout set first; 0: the handler sets it
        uint8_t states;                                     // states it is accepted in (a bit per state); else 503
        Syntax syntax;                                      // else 501
        bool resets;                                        // an accepted command starts the error count again
        bool (SmtpDialogue::*available)() const;            // nullptr: always
        void (SmtpDialogue::*firstStep)(const Text& arg);   // before the state check, in every state
        Outcome (SmtpDialogue::*handle)(const Text& command, const Text& arg);
    };
    static const CommandRow kCommands[];
    static const CommandRow* FindCommand(const Text& word);

    void Process();
    void LineTooLong();
    void Command(const Text& line);
    bool TlsOffered() const { return host_.TlsOffered(); }

    Outcome Helo(const Text& command, const Text& argument);
    void Greet(const Text& command, const Text& argument);
    Outcome Mail(const Text& command, const Text& argument);
    // The ESMTP parameters behind MAIL's path; false when refused (replied).
    bool MailParameters(const Text& argument);
    void LearnRecipient(const Text& argument);
    Outcome Rcpt(const Text& command, const Text& argument);
    Outcome Data(const Text& command, const Text& argument);
    Outcome Rset(const Text& command, const Text& argument);
    Outcome Vrfy(const Text& command, const Text& argument);
    Outcome Expn(const Text& command, const Text& argument);
    Outcome Help(const Text& command, const Text& argument);
    Outcome Noop(const Text& command, const Text& argument);
    Outcome Turn(const Text& command, const Text& argument);
    Outcome NotImplemented(const Text& command, const Text& argument);
    Outcome Quit(const Text& command, const Text& argument);
    Outcome StartTls(const Text& command, const Text& argument);

    void CollectData();
    void TakeCommandsAfter(qsizetype markPosition);
    void EndOfData(qsizetype markPosition);
    void MessageSaved(SaveResult result, qsizetype length, const Text& refusal);
    void AbortData(const Text& reply);

    void Reply(const Text& reply);
    // A reply of several lines ("250-" ... "250 "), each line logged, sent in one piece.
    void Reply(const TextList& lines);
    void SequenceRule(const Text& reply);
    void UnknownCommand();
    void Resets() { slot_.ErrorCount = 0; }
    void ClearEnvelope();
    void EndSession();
    void Wait() { waiting_ = true; }
    void Resume();

    ServerContext& ctx_;
    SessionSlot& slot_;
    int16_t slotNumber_;
    DialogueHost& host_;
    bool waiting_ = false;
    bool ended_ = false;
    bool processing_ = false;
    bool extended_ = false;       // EHLO offered the ESMTP extensions in this session
    bool discardInput_ = false;   // STARTTLS: what follows it in the buffer came in clear text
    qsizetype lineScanned_ = 0;   // leading bytes of LineBuffer known to hold no line feed
};
