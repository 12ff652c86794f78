// osprinectl: sets and shows the settings and lists of one OSPRINE
// installation from the shell, with the checks the dialogs apply, shows and
// flushes the outbound queue, and asks the running server to reload.
#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include "osprinectl/ConfigCommand.h"
#include "osprinectl/DkimCommand.h"
#include "osprinectl/DnsCheckCommand.h"
#include "osprinectl/Identity.h"
#include "osprinectl/ListCommand.h"
#include "osprinectl/Output.h"
#include "osprinectl/QueueCommand.h"
#include "osprinectl/ServerControl.h"
#include "osprinectl/StatusCommand.h"
#include "server/store/Version.h"

namespace {

const char* const kHelp =
    "Usage: osprinectl [-d DIR] COMMAND [ARGUMENTS]\n"
    "Works on the OSPRINE installation in DIR (the BBS main directory; default: the\n"
    "current directory).\n\n"
    "Commands:\n"
    "  config   print or set settings (OSPRINE.CFG and the TLS keys)\n"
    "  dkim     make a DKIM key for signing outbound mail\n"
    "  dnscheck check MX, SPF, the DKIM key and DMARC as receivers see them\n"
    "  list     print or edit the lists (aliases, domains, filters, TWIT.LST, ...)\n"
    "  queue    show the outbound queue, delete a message, or flush it\n"
    "  stats    print the running server's counters\n"
    "  status   say whether the server runs, where it listens, its queue and last fault\n"
    "  reload   make the running server read its settings and network files now\n\n"
    "\"osprinectl COMMAND --help\" tells more. Exit status: 0 done, 1 the running server\n"
    "is needed and none answered, or a file cannot be read, 2 bad usage or a refused value\n"
    "(nothing changed).\n";

const char* const kStatsHelp = "Usage: osprinectl [-d DIR] stats\nPrints the running server's counters, one a line.\n";
const char* const kReloadHelp =
    "Usage: osprinectl [-d DIR] reload\n"
    "Makes the running server read OSPRINE.CFG and the BBS's network files now and apply\n"
    "them (a new port when no session is open); SIGHUP does the same.\n";

// Whether the command changes settings or lists ("config NAME=VALUE", "list LIST add ...").
bool Writes(const QString& command, const QStringList& args) {
    if (command == "config")
        return std::any_of(args.begin(), args.end(), [](const QString& a) { return a.contains('='); });
    return command == "list" && args.size() >= 2;
}

int Help(const char* text) {
    std::fputs(text, stdout);
    return ctl::kOk;
}

}   // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString dir = QDir::currentPath();
    bool showSecrets = false;
    while (!args.isEmpty() && args.first().startsWith('-')) {
        const QString option = args.takeFirst();
        if (option == "-d" && !args.isEmpty())
            dir = args.takeFirst();
        else if (option == "--help" || option == "-h")
            return Help(kHelp);
        else if (option == "--version")
            return Help((std::string("osprinectl (OSPRINE v") + kVersion + ")\n").c_str());
        else
            return ctl::Fail(ctl::kUsage, "unknown option " + option.toLocal8Bit() + " (see osprinectl --help)");
    }
    if (args.isEmpty()) return ctl::Fail(ctl::kUsage, "no command given (see osprinectl --help)");
    const QString command = args.takeFirst();
    if (args.removeAll("--show-secrets") > 0) showSecrets = true;
    const bool help = args.contains("--help") || args.contains("-h");
    if (help) {
        if (command == "config") return Help(kConfigHelp);
        if (command == "list") return Help(kListHelp);
        if (command == "queue") return Help(kQueueHelp);
        if (command == "dkim") return Help(kDkimHelp);
        if (command == "dnscheck") return Help(kDnsCheckHelp);
        if (command == "stats") return Help(kStatsHelp);
        if (command == "reload") return Help(kReloadHelp);
        if (command == "status") return Help(kStatusHelp);
    }

    Installation inst;
    Text why;
    if (command != "config" && command != "list" && command != "queue" && command != "dkim" && command != "dnscheck" &&
        command != "stats" && command != "reload" && command != "status")
        return ctl::Fail(ctl::kUsage, command.toLocal8Bit() + ": no such command (see osprinectl --help)");
    if (!BecomeOwnerOf(dir, why)) return ctl::Fail(ctl::kUsage, why);
    if (!inst.Load(dir, why)) return ctl::Fail(why.startsWith("cannot read") ? ctl::kUnreadable : ctl::kUsage, why);
    // A command that writes names a link among its files before anything is read through it.
    if (Writes(command, args) && !inst.RefuseLinks(why)) return ctl::Fail(ctl::kUsage, why);
    if (!inst.FilesReadable(why)) return ctl::Fail(ctl::kUnreadable, why);
    if (command == "config") return RunConfig(inst, args, showSecrets);
    if (command == "list") return RunList(inst, args);
    if (command == "queue") return RunQueue(inst, args);
    if (command == "dkim") return RunDkim(inst, args);
    if (command == "dnscheck") return RunDnsCheck(inst, args);
    if (!args.isEmpty()) return ctl::Fail(ctl::kUsage, command.toLocal8Bit() + " takes no arguments");
    if (command == "status") return RunStatus(inst);
    return AskServer(inst, command.toLocal8Bit());
}
