// osprine-readmail: lists a user's mail in the BBS e-mail base of a
// (test) installation: sender, subject and date, the body on request.
#include "tools/mailbase/Installation.h"
#include "tools/mailbase/MailReader.h"
#include "tools/mailbase/UserTable.h"

#include <QDir>
#include <cstdio>

namespace {

int Fail(const QString& problem) {
    std::fprintf(stderr, "osprine-readmail: %s\nusage: osprine-readmail DIR USER [--body]\n", qPrintable(problem));
    return 2;
}

void Print(const Text& text) { std::fwrite(text.constData(), 1, size_t(text.size()), stdout); }

void PrintMail(int index, const EmailEntry& e, bool withBody) {
    const EmailRecord& r = e.record;
    Print("[" + NumText(index) + "] From: " + r.FromUser + "@" + r.FromSystem + "\n");
    Print("    Subject: " + r.Subject + "\n");
    Print("    Date: " + r.DateText + "\n");
    if (withBody) Print("\n" + e.body + (e.body.endsWith('\n') ? "" : "\n"));
    Print("\n");
}

}   // namespace

int main(int argc, char** argv) {
    QStringList args;
    bool withBody = false;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == "--body")
            withBody = true;
        else if (a.startsWith("--"))
            return Fail("unknown option " + a);
        else
            args.append(a);
    }
    if (args.size() != 2) return Fail("give the installation directory and a user (number or handle)");
    // Directories in the BBS's records may be relative to the main directory.
    if (!QDir::setCurrent(args[0])) return Fail(args[0] + " is not a directory");

    Installation in;
    const QString problem = LoadInstallation(QDir::currentPath(), in);
    if (!problem.isEmpty()) return Fail(problem);
    const UserTable users = UserTable::Load(in.bbs);
    const int32_t user = users.Find(args[1].toLocal8Bit());
    if (user < 1) return Fail("no user " + args[1] + " in " + args[0]);

    const QList<EmailEntry> mail = ReadUserMail(in.bbs.MessageDir(), user, withBody);
    Print("Mail for " + users.Handle(user) + " (user " + NumText(user) + "): " + NumText(mail.size()) +
          " message(s)\n\n");
    for (qsizetype i = 0; i < mail.size(); ++i) PrintMail(int(i + 1), mail[i], withBody);
    return 0;
}
