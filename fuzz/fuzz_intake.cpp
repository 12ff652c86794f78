// The whole intake of one received message, past the dialogue: any sender,
// any recipient list and any text, filed into a test installation (hand-off
// files, forwarding into the e-mail base, file requests, carbon copies).
// Input: a switch byte, then parts cut at "\0\xff": return path, recipients, text.
#include "fuzz/FuzzSupport.h"
#include "server/intake/Intake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    FuzzInstall& install = FuzzInstall::Get();
    const TextList p = FuzzParts(data + 1, size - 1, 3);
    SettingsRecord& s = install.settings;
    s = SettingsRecord();
    s.AllowCarbonCopy = data[0] & 1;
    s.AllowFreq = (data[0] >> 1) & 1;
    s.CheckFlags = (data[0] >> 2) & 1;
    s.AutoVerify = (data[0] >> 3) & 1;

    Intake intake(install.ctx, nullptr, false);   // stored within the call
    ReceivedMessage message;
    message.returnPath = p[0];
    message.recipients = p[1];
    message.message = p[2];
    message.slot = 1;
    message.sendingHost = "127.0.0.1";
    intake.SaveMessage(message, [](SaveResult) {});
    install.ResetOutputs();
    return 0;
}
