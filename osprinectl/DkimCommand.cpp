#include "osprinectl/DkimCommand.h"
#include <QDate>
#include <QDir>
#include "osprinectl/Output.h"
#include "server/auth/DkimSigningKey.h"
#include "server/outbound/OutboundSigning.h"
#include "server/store/Files.h"
#include "server/store/KeyedList.h"
#include "server/store/KeyedSettings.h"

const char* const kDkimHelp =
    "Usage: osprinectl [-d DIR] dkim keygen [--ed25519] [--selector NAME]\n"
    "Makes a new DKIM private key (RSA of 2048 bits, or Ed25519), writes it to DKIM-NAME.KEY\n"
    "in the main directory (readable by its owner only), sets dkimdomain (the Internet\n"
    "system id unless it is set), dkimselector and dkimkey, and prints the TXT record to\n"
    "publish in DNS. The running server signs with the new key within a minute (or at\n"
    "\"osprinectl reload\"). NAME defaults to \"osprine\" and today's date (yyyymmdd).\n";

namespace {

constexpr qsizetype kTxtStringLimit = 255;

struct KeygenOptions {
    DkimKeyType type = DkimKeyType::Rsa;
    Text selector;
};

bool ParseKeygen(QStringList args, KeygenOptions& options, Text& why) {
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == "--ed25519") {
            options.type = DkimKeyType::Ed25519;
        } else if (a == "--selector" && !args.isEmpty()) {
            options.selector = args.takeFirst().toLocal8Bit();
        } else {
            why = "keygen: unknown argument " + a.toLocal8Bit();
            return false;
        }
    }
    if (options.selector.isEmpty()) options.selector = "osprine" + QDate::currentDate().toString("yyyyMMdd").toLatin1();
    if (!IsDnsName(options.selector)) {
        why = "keygen: \"" + options.selector + "\" is no selector (letters, digits and \"-\", parts joined by dots)";
        return false;
    }
    return true;
}

int Keygen(const Installation& inst, const QStringList& args) {
    KeygenOptions options;
    Text why;
    if (!ParseKeygen(args, options, why)) return ctl::Fail(ctl::kUsage, why);
    Text domain = LoadDkimSettings(inst.KeyedList()).domain;
    if (domain.isEmpty()) domain = LCase(Trim(GetSystemId(inst.bbs)));
    if (domain.isEmpty() || !IsDnsName(domain))
        return ctl::Fail(ctl::kUsage, "keygen: no signing domain: set dkimdomain or the Internet system id first");

    const std::optional<DkimSigningKey> key = DkimSigningKey::Generate(options.type, why);
    if (!key) return ctl::Fail(ctl::kUsage, "keygen: " + why);
    const QString path =
        QDir(inst.MainDir()).absoluteFilePath("DKIM-" + QString::fromLatin1(options.selector) + ".KEY");
    // The name is claimed first, so that no key is ever written over, nor
    // through a link someone else left there.
    if (!CreateExclusive(path))
        return ctl::Fail(ctl::kUsage, "keygen: " + TextFromPath(path) + " exists; choose another --selector");
    if (!WriteSecretFileAtomic(path, key->PrivatePem())) {
        RemoveFile(path);
        return ctl::Fail(ctl::kUsage, "keygen: cannot write " + TextFromPath(path));
    }
    PutData(kDkimDomainKey, domain, inst.KeyedList());
    PutData(kDkimSelectorKey, options.selector, inst.KeyedList());
    PutData(kDkimKeyFileKey, TextFromPath(path), inst.KeyedList());
    ctl::Out(options.selector + "._domainkey." + domain + " IN TXT " + TxtStrings(DkimKeyRecord(*key)));
    return ctl::kOk;
}

}   // namespace

Text TxtStrings(const Text& text) {
    TextList strings;
    for (qsizetype at = 0; at < text.size(); at += kTxtStringLimit)
        strings << '"' + text.mid(at, kTxtStringLimit) + '"';
    return strings.join(' ');
}

int RunDkim(const Installation& inst, const QStringList& arguments) {
    if (arguments.isEmpty() || arguments.first() != "keygen")
        return ctl::Fail(ctl::kUsage, "dkim: the only subcommand is keygen (see osprinectl dkim --help)");
    return Keygen(inst, arguments.mid(1));
}
