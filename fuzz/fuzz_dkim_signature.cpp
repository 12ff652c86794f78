// The DKIM-Signature parser, the key record parser, and the verification of
// any message against any key record (no look-up).
#include "fuzz/FuzzSupport.h"
#include "server/auth/DkimCanon.h"
#include "server/auth/DkimKey.h"
#include "server/auth/DkimSignature.h"
#include "server/auth/DkimVerify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Text input(reinterpret_cast<const char*>(data), qsizetype(size));
    ParseDkimSignature(input);
    ParseDkimKey(input);
    WithoutSignatureValue(input);
    // The input as a message, its first DKIM-Signature checked against the
    // key record that its last line holds.
    const qsizetype lastLine = input.lastIndexOf('\n');
    const Text key = lastLine < 0 ? Text() : input.mid(lastLine + 1);
    const SplitMail mail = SplitForDkim(input);
    CanonicalBody(mail.body, true);
    CanonicalBody(mail.body, false);
    for (qsizetype i = 0; i < mail.fields.size(); ++i) {
        CanonicalHeader(mail.fields[i], true);
        if (mail.fields[i].name.toLower() == "dkim-signature") {
            CheckDkimSignature(input, i, key, 1700000000);
            break;
        }
    }
    return 0;
}
