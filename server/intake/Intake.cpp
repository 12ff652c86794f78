#include "server/intake/Intake.h"

#include "server/bbs/MessageFiles.h"
#include "server/inbound/Recipients.h"
#include "server/intake/EmailBaseWriter.h"
#include "server/intake/FileRequestAnswer.h"
#include "server/intake/Filters.h"
#include "server/intake/InboundHeaders.h"
#include "server/intake/RecipientCopy.h"
#include "server/intake/SenderChecks.h"
#include "server/intake/SpamScan.h"
#include "server/intake/Tossing.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Headers.h"
#include "server/store/KeyedList.h"
#include "server/store/Version.h"

#include <QDir>
#include <QPointer>
#include <QSet>

Intake::Intake(ServerContext& ctx, QObject* parent, bool diskThread) : QObject(parent), ctx_(ctx), disk_(diskThread) {}

void Intake::Stores::Add(Store store) {
    if (store.jobs.empty()) {
        if (store.onStored) store.onStored();
        return;
    }
    list.push_back(std::move(store));
}

void Intake::SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) {
    const QString spoolTmp = ctx_.Bbs().SpoolTmpDir();
    if (!DirExists(spoolTmp) && !QDir().mkpath(spoolTmp))
        LogError("SaveMessage", kVersion, "modOSPRINE", "Cannot create " + TextFromPath(spoolTmp));
    const HeaderView received(HeaderBlock(message.message));
    LogArrival(message, received);
    if (const int hops = received.Count("Received"); hops >= kMaxHops) {
        ctx_.Log().Report(message.slot,
                          "Email has " + NumText(hops) + " Received lines (a mail loop). Message refused.");
        ctx_.Stats().TooManyHops += 1;
        ctx_.Stats().UpdateStats();
        done(SaveResult::TooManyHops);
        return;
    }

    // The session stays held while the checks are pending, as during a spam scan.
    QPointer<Intake> self(this);
    CheckSender(ctx_, auth_, message, [self, message, done = std::move(done)](const SenderVerdict& verdict) {
        if (!self) return;
        if (!verdict.refusal.isEmpty()) {
            self->ctx_.Log().Report(message.slot, verdict.event);
            *message.refusal = verdict.refusal;
            done(SaveResult::Refused);
            return;
        }
        ReceivedMessage checked = message;
        checked.authResults = verdict.header;
        checked.authservId = verdict.authservId;
        self->ScanThenFile(checked, done);
    });
}

void Intake::ScanThenFile(const ReceivedMessage& message, std::function<void(SaveResult)> done) {
    const Text firstRecipient = GetPath(message.recipients);
    const bool scan = message.message.size() < kSpamScanLimit && On(ctx_.Settings().SpamAssassin) &&
                      !CheckFilterExemption(ctx_, firstRecipient, 1);
    if (!scan) {
        FileMessage(message, std::make_shared<const Text>(message.message), std::move(done));
        return;
    }
    ctx_.Log().Report(message.slot, "Data Received. Executing SpamAssassin...");
    QPointer<Intake> self(this);
    SpamScan::ExecuteSpamAssassin(
        ctx_, message.slot, message.message,
        [self, envelope = message, done = std::move(done)](const Text& scanned) {
            if (self) self->FileMessage(envelope, std::make_shared<const Text>(scanned), done);
        },
        this);
}

void Intake::LogArrival(const ReceivedMessage& message, const HeaderView& header) {
    const int16_t slot = message.slot;
    ctx_.Log().Report(slot, "> Message Return-Path: " + Trim(message.returnPath));
    ctx_.Log().Report(slot, "> Message From: " + Trim(header.Value("From")));
    ctx_.Log().Report(slot, "> Message To: " + Trim(header.Value("To")));
    ctx_.Log().Report(slot, "> Message Subject: " + Trim(header.Value("Subject")));
    ctx_.Log().Report(slot, "> Message ID: " + Trim(header.Value("Message-ID")));
}

SaveResult Intake::Deleted(int16_t slot, const Text& event) {
    ctx_.Log().Report(slot, event);
    return SaveResult::NotSaved;
}

Text Intake::FilterVerdict(const Text& firstRecipient, const HeaderView& header) {
    // The exemption is looked up only when there is a filter to be exempt from.
    const Text headerRows = GetData("headerfilter", ctx_.KeyedList());
    if (!Trim(headerRows).isEmpty() && !CheckFilterExemption(ctx_, firstRecipient, 2)) {
        if (const Text event = ApplyHeaderFilter(headerRows, header); !event.isEmpty()) {
            ctx_.Stats().BlockedHeaders += 1;
            ctx_.Stats().UpdateStats();
            return event;
        }
    }
    const Text subjectRows = GetData("subjectfilter", ctx_.KeyedList());
    if (!subjectRows.isEmpty() && !CheckFilterExemption(ctx_, firstRecipient, 3)) {
        if (const Text event = ApplySubjectFilter(subjectRows, header); !event.isEmpty()) {
            ctx_.Stats().BlockedSubjects += 1;
            ctx_.Stats().UpdateStats();
            return event;
        }
    }
    return {};
}

void Intake::FileMessage(const ReceivedMessage& envelope, std::shared_ptr<const Text> text,
                         std::function<void(SaveResult)> done) {
    const int16_t slot = envelope.slot;
    MessageText message = SplitMessage(*text);
    // The header is taken apart once: the repair, the filters and every copy
    // read and edit this view.
    HeaderView header(message.head);
    RemoveForgedTrackingHeaders(header);
    // A header of ours that came with the message is a forgery (only looked
    // for while the checks run, so that the files stay as they were otherwise).
    if (!envelope.authResults.isEmpty()) RemoveForgedAuthenticationResults(header, envelope.authservId);
    FixInboundHeaders(header);
    Text deleted;
    if (Trim(header.Value("To")).isEmpty())
        deleted = "Email contains an invalid TO header. Message deleted.";
    else if (Trim(header.Value("From")).isEmpty())
        deleted = "Email contains an invalid FROM header. Message deleted.";
    else
        deleted = FilterVerdict(GetPath(envelope.recipients), header);
    if (!deleted.isEmpty()) {
        done(Deleted(slot, deleted));
        return;
    }

    Text recipients = envelope.recipients;
    if (On(ctx_.Settings().AllowCarbonCopy)) recipients = GetRecipients(ctx_, header, recipients);
    header.UndoDotStuffing();
    message.head = header.ToText();
    UndoDotStuffing(message.body);

    bool handedOn = false, fault = false;
    Stores stores;
    stores.source = std::move(text);
    QSet<Text> destinations;   // those that have their copy
    for (const Text& entry : Explode(",", recipients)) {
        // On a fault the sender is told to try again; copies stored so far stay.
        fault = !Deliver(envelope, entry, message, header, destinations, &handedOn, stores);
        if (fault) break;
    }
    Finish(std::move(stores), handedOn, fault, std::move(done));
}

void Intake::Finish(Stores stores, bool handedOn, bool fault, std::function<void(SaveResult)> done) {
    const auto Outcome = [](bool stored, bool any) {
        return !stored ? SaveResult::LocalError : any ? SaveResult::Saved : SaveResult::NotSaved;
    };
    if (stores.list.empty()) {
        done(Outcome(!fault, handedOn));
        return;
    }
    std::vector<DiskJob> jobs;
    std::vector<size_t> storeOf;   // the store each job belongs to
    for (size_t s = 0; s < stores.list.size(); ++s) {
        for (DiskJob& job : stores.list[s].jobs) {
            jobs.push_back(std::move(job));
            storeOf.push_back(s);
        }
    }
    disk_.Run(std::move(jobs), this,
              // Held by the queue until every job has run: the borrowed bytes live as long.
              [list = std::move(stores.list), storeOf = std::move(storeOf), source = std::move(stores.source), handedOn,
               fault, done = std::move(done), Outcome](const std::vector<bool>& ok) {
                  bool all = !fault, any = handedOn;
                  std::vector<bool> stored(list.size(), true);
                  for (size_t i = 0; i < ok.size(); ++i) {
                      all = all && ok[i];
                      any = any || ok[i];
                      stored[storeOf[i]] = stored[storeOf[i]] && ok[i];
                  }
                  for (size_t s = 0; s < list.size(); ++s)
                      if (stored[s] && list[s].onStored) list[s].onStored();
                  done(Outcome(all, any));
              });
}

bool Intake::Deliver(const ReceivedMessage& envelope, const Text& entry, const MessageText& message,
                     const HeaderView& header, QSet<Text>& destinations, bool* handedOn, Stores& stores) {
    const int16_t slot = envelope.slot;
    const Text recipient = LCase(Trim(entry));
    const Text local = NormalisedLocalPart(recipient);
    if (recipient.isEmpty()) {
        ctx_.Log().Report(slot, "Error - Blank Recipient Address: " + LCase(GetPath(header.Value("To"))) + " -- ");
        return true;
    }
    const bool fileRequest = On(ctx_.Settings().AllowFreq) && UCase(local) == "SYSOP**F";
    const RecipientCopy copy = fileRequest ? RecipientCopy{} : RewriteRecipient(ctx_, recipient, local, header);
    // One copy per destination, however many spellings of it the envelope holds.
    const Text destination = copy.userNumber > 0 ? "#" + NumText(copy.userNumber) : LCase(local);
    if (destinations.contains(destination)) return true;
    destinations.insert(destination);

    ctx_.Log().Report(slot, "Email received: " + LCase(GetPath(header.Value("From"))) + " --> " + recipient);
    if (!copy.event.isEmpty()) ctx_.Log().Report(slot, copy.event);

    if (fileRequest) {
        Store answer;
        if (!AnswerFileRequest(ctx_, slot, header, answers_, DiskSink::DeferTo(answer.jobs))) return false;
        *handedOn = true;
        answer.onStored = [this, n = message.head.size() + 2 + message.body.size() + message.tail.size()] { Count(n); };
        stores.Add(std::move(answer));
        return true;
    }

    const Text forward = CheckForwarding(ctx_, copy.userNumber);
    if (forward.isEmpty()) {
        HandOff(envelope, copy, message, stores);
        return true;
    }
    const bool stored = Forward(envelope, copy, forward, message, stores);
    *handedOn = *handedOn || stored;
    return stored;
}

void Intake::HandOff(const ReceivedMessage& envelope, const RecipientCopy& copy, const MessageText& message,
                     Stores& stores) {
    const QString spoolTmp = ctx_.Bbs().SpoolTmpDir();
    TextList pieces = HandOffPieces(ctx_, envelope.returnPath, envelope.sendingHost, copy.header, message);
    // Authentication-Results goes directly above the trace header.
    if (!envelope.authResults.isEmpty()) pieces.insert(1, envelope.authResults);
    const auto number = std::make_shared<int>(0);
    Store handOff;
    handOff.jobs.push_back(ReportingFailure(NewMessageFileJob(spoolTmp, pieces, number), [spoolTmp] {
        LogError("SaveMessage", kVersion, "modOSPRINE",
                 "No hand-off file could be written in " + TextFromPath(spoolTmp));
    }));
    handOff.onStored = [this, number, length = PiecesLength(pieces)] {
        Count(length);
        // The spool holds at most 1000 files: once many wait, the tosser starts
        // now rather than on the next tick, so that a burst cannot fill it.
        if (*number >= kEarlyTossNumber) TossMessages(ctx_);
    };
    stores.Add(std::move(handOff));
}

bool Intake::Forward(const ReceivedMessage& envelope, const RecipientCopy& copy, const Text& forward,
                     const MessageText& message, Stores& stores) {
    const Text text = ForwardText(envelope.authResults + copy.header.ToText(), message);
    Store forwarded;
    if (!WriteMessage(ctx_, copy.userNumber, forward, text, envelope.slot, DiskSink::DeferTo(forwarded.jobs)))
        return false;
    forwarded.onStored = [this, n = text.size()] { Count(n); };
    stores.Add(std::move(forwarded));
    return true;
}

void Intake::Count(qsizetype length) {
    ctx_.Stats().TotalReceived += 1;
    ctx_.Stats().KBReceived += float(length) / 1024.0f;
    ctx_.Stats().UpdateStats();
}
