// The server side of the SMTP conversation: any bytes, cut into arrivals of
// any size, against a test installation with the real intake behind it.
// Input: one byte of settings switches, one byte of arrival size, the bytes.
#include "fuzz/FuzzSupport.h"
#include "server/inbound/SmtpDialogue.h"
#include "server/intake/Intake.h"

#include "server/intake/MessageText.h"
#include "server/store/Files.h"

#include <QDir>
#include <QSet>
#include <cstdio>
#include <cstdlib>
#include <deque>

namespace {

// Stands in for the socket and the event loop: answers of the block-list
// test and the intake are delivered after Receive returns, as the server's
// queued calls are.
struct LoopHost : DialogueHost {
    explicit LoopHost(Intake& intake, bool relayPasses) : intake(intake), relayPasses(relayPasses) {}

    void SendMessage(const Text& text) override { sent += text.size(); }
    void EndSession() override { ended = true; }
    void CheckRelayTest(std::function<void(bool)> done) override {
        queued.push_back([this, done = std::move(done)] { done(relayPasses); });
    }
    void SaveMessage(const ReceivedMessage& message, std::function<void(SaveResult)> done) override {
        Remember(message);
        intake.SaveMessage(message, [this, done = std::move(done)](SaveResult result) {
            queued.push_back([done, result] { done(result); });
        });
    }
    void RunQueued() {
        // Each answer can start at most one more wait; the bound only guards the fuzzer.
        for (int i = 0; i < 10000 && !queued.empty(); ++i) {
            auto next = std::move(queued.front());
            queued.pop_front();
            next();
        }
    }

    // The header lines a stored copy may hold because the message had them
    // (its header block as the intake cuts it, dot-stuffing undone), and the
    // exact Return-Path lines of the envelopes handed on.
    void Remember(const ReceivedMessage& message) {
        const Text head = SplitMessage(message.message).head;
        for (Text line : head.split('\n')) {
            if (line.endsWith('\r')) line.chop(1);
            if (line.startsWith("..")) line.remove(0, 1);
            ownLines.insert(line);
        }
        returnPaths.insert("Return-Path: <" + Trim(message.returnPath) + ">");
    }

    // Every header line of every hand-off file came from the message's own
    // header, or is a trace line or a rewrite of the intake: nothing the
    // envelope or the dialogue could smuggle in.
    void CheckHandOffs(const QString& dir) const {
        static const char* const kIntakeLines[] = {"Received: from ", "\tby ",     "\tfor <", "To: <",
                                                   "Date: ",          "Subject: ", "From: ",  "reply-to: "};
        for (const QString& name : QDir(dir).entryList({"V*.D"}, QDir::Files)) {
            const Text file = ReadFileBytes(PathJoin(dir, name));
            const Text head = file.left(file.indexOf("\r\n\r\n"));
            for (const Text& line : head.split('\n')) {
                const Text bare = line.endsWith('\r') ? line.chopped(1) : line;
                bool known = ownLines.contains(bare) || returnPaths.contains(bare);
                // A rewrite keeps the field name's letter case as the sender wrote it.
                for (const char* prefix : kIntakeLines) known = known || UCase(bare).startsWith(UCase(prefix));
                if (!known || bare.contains('\r')) {
                    std::fprintf(stderr, "hand-off header line of unknown origin: %s\n", bare.constData());
                    std::abort();
                }
            }
        }
    }

    Intake& intake;
    bool relayPasses;
    QSet<Text> ownLines;
    QSet<Text> returnPaths;
    qsizetype sent = 0;
    bool ended = false;
    std::deque<std::function<void()>> queued;
};

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    FuzzInstall& install = FuzzInstall::Get();
    const uint8_t flags = data[0];
    const qsizetype arrival = 1 + data[1] * 7;
    SettingsRecord& s = install.settings;
    s = SettingsRecord();
    s.MaxMailSize = 16384;
    s.AllowVrfy = flags & 1;
    s.AllowExpn = (flags >> 1) & 1;
    s.CheckFlags = (flags >> 2) & 1;
    s.RelayEnable = (flags >> 3) & 1;
    s.AutoVerify = (flags >> 4) & 1;
    s.AllowCarbonCopy = (flags >> 5) & 1;
    s.AllowFreq = (flags >> 6) & 1;
    install.run.ServerState = ServerPhase::Online;

    Intake intake(install.ctx, nullptr, false);   // stored within the call
    LoopHost host(intake, flags & 0x80);
    SessionSlot slot;
    slot.Open(0, "127.0.0.1");
    SmtpDialogue dialogue(install.ctx, slot, 1, host);

    const Text input(reinterpret_cast<const char*>(data) + 2, qsizetype(size) - 2);
    for (qsizetype at = 0; at < input.size() && !dialogue.Ended(); at += arrival) {
        dialogue.Receive(input.mid(at, arrival));
        host.RunQueued();
    }
    host.RunQueued();
    host.CheckHandOffs(install.bbs.SpoolTmpDir());
    install.ResetOutputs();
    return 0;
}
