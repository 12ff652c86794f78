// The server side of the SMTP conversation: any bytes, cut into arrivals of
// any size, against a test installation with the real intake behind it.
// Input: one byte of settings switches, one byte of arrival size, the bytes.
#include "fuzz/FuzzSupport.h"
#include "server/inbound/SmtpDialogue.h"
#include "server/intake/Intake.h"

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

    Intake& intake;
    bool relayPasses;
    qsizetype sent = 0;
    bool ended = false;
    std::deque<std::function<void()>> queued;
};

}  // namespace

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
    install.run.ServerState = 1;

    Intake intake(install.ctx);
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
    install.ResetOutputs();
    return 0;
}
