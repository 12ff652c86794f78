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

const char* const kStatsHelp = "Usage: osprinectl [-d DIR] stats\nPrints the running server's counters, one a line.\n";
const char* const kReloadHelp =
    "Usage: osprinectl [-d DIR] reload\n"
    "Makes the running server read OSPRINE.CFG and the BBS's network files now and apply\n"
    "them (a new port when no session is open); SIGHUP does the same.\n";

// Whether "config" sets a setting ("config NAME=VALUE") and "list" edits a list ("list LIST add ...").
bool SetsAny(const QStringList& args) {
    return std::any_of(args.begin(), args.end(), [](const QString& a) { return a.contains('='); });
}
bool EditsList(const QStringList& args) { return args.size() >= 2; }

// One line per command: its name, what the general help says of it, its own
// "--help" text, whether its arguments change files, and what runs it.
// Commands without arguments take none.
struct Command {
    const char* name;
    const char* summary;
    const char* help;
    bool (*writes)(const QStringList& args);   // none: it only reads
    int (*run)(const Installation& inst, const QStringList& args, bool showSecrets);
    bool takesArguments = true;
};

const Command kCommands[] = {
    {"config", "print or set settings (OSPRINE.CFG and the TLS keys)", kConfigHelp, SetsAny,
     [](const Installation& i, const QStringList& a, bool secrets) { return RunConfig(i, a, secrets); }},
    {"dkim", "make a DKIM key for signing outbound mail", kDkimHelp, nullptr,
     [](const Installation& i, const QStringList& a, bool) { return RunDkim(i, a); }},
    {"dnscheck", "check MX, SPF, the DKIM key and DMARC as receivers see them", kDnsCheckHelp, nullptr,
     [](const Installation& i, const QStringList& a, bool) { return RunDnsCheck(i, a); }},
    {"list", "print or edit the lists (aliases, domains, filters, TWIT.LST, ...)", kListHelp, EditsList,
     [](const Installation& i, const QStringList& a, bool) { return RunList(i, a); }},
    {"queue", "show the outbound queue, delete a message, or flush it", kQueueHelp, nullptr,
     [](const Installation& i, const QStringList& a, bool) { return RunQueue(i, a); }},
    {"stats", "print the running server's counters", kStatsHelp, nullptr,
     [](const Installation& i, const QStringList&, bool) { return AskServer(i, "stats"); }, false},
    {"status", "say whether the server runs, where it listens, its queue and last fault", kStatusHelp, nullptr,
     [](const Installation& i, const QStringList&, bool) { return RunStatus(i); }, false},
    {"reload", "make the running server read its settings and network files now", kReloadHelp, nullptr,
     [](const Installation& i, const QStringList&, bool) { return AskServer(i, "reload"); }, false},
};

const Command* FindCommand(const QString& name) {
    for (const Command& c : kCommands)
        if (name == QLatin1String(c.name)) return &c;
    return nullptr;
}

// The general help, with one line for each command of the table.
std::string GeneralHelp() {
    std::string text =
        "Usage: osprinectl [-d DIR] COMMAND [ARGUMENTS]\n"
        "Works on the OSPRINE installation in DIR (the BBS main directory; default: the\n"
        "current directory).\n\n"
        "Commands:\n";
    for (const Command& c : kCommands) {
        std::string name = c.name;
        name.resize(std::max<size_t>(name.size(), 8), ' ');
        text += "  " + name + " " + c.summary + "\n";
    }
    return text +
           "\n\"osprinectl COMMAND --help\" tells more. Exit status: 0 done, 1 the running server\n"
           "is needed and none answered, or a file cannot be read, 2 bad usage or a refused value\n"
           "(nothing changed).\n";
}

int Help(const std::string& text) {
    std::fputs(text.c_str(), stdout);
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
            return Help(GeneralHelp());
        else if (option == "--version")
            return Help(std::string("osprinectl (OSPRINE v") + kVersion + ")\n");
        else
            return ctl::Fail(ctl::kUsage, "unknown option " + option.toLocal8Bit() + " (see osprinectl --help)");
    }
    if (args.isEmpty()) return ctl::Fail(ctl::kUsage, "no command given (see osprinectl --help)");
    const QString name = args.takeFirst();
    if (args.removeAll("--show-secrets") > 0) showSecrets = true;
    const Command* command = FindCommand(name);
    if (!command) return ctl::Fail(ctl::kUsage, name.toLocal8Bit() + ": no such command (see osprinectl --help)");
    if (args.contains("--help") || args.contains("-h")) return Help(command->help);

    if (const std::optional<Text> why = BecomeOwnerOf(dir)) return ctl::Fail(ctl::kUsage, *why);
    Installation inst;
    if (const std::optional<Text> why = inst.Load(dir))
        return ctl::Fail(why->startsWith("cannot read") ? ctl::kUnreadable : ctl::kUsage, *why);
    // A command that writes names a link among its files before anything is read through it.
    if (command->writes && command->writes(args))
        if (const std::optional<Text> why = inst.RefuseLinks()) return ctl::Fail(ctl::kUsage, *why);
    if (const std::optional<Text> why = inst.FilesReadable()) return ctl::Fail(ctl::kUnreadable, *why);
    if (!command->takesArguments && !args.isEmpty())
        return ctl::Fail(ctl::kUsage, name.toLocal8Bit() + " takes no arguments");
    return command->run(inst, args, showSecrets);
}
