// osprine-mkbbs: creates a test installation of the BBS in a directory, so
// the server can be tried without a BBS.
#include "tools/testbbs/TestBbs.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {

int Fail(const QString& problem) {
    std::fprintf(stderr, "osprine-mkbbs: %s\n", qPrintable(problem));
    return 1;
}

bool ReadNumber(const QCommandLineParser& p, const QCommandLineOption& o, int& value, QString& problem) {
    if (!p.isSet(o)) return true;
    bool ok = false;
    value = p.value(o).toInt(&ok);
    if (!ok) problem = QString("--%1 needs a whole number, not \"%2\"").arg(o.names().first(), p.value(o));
    return ok;
}

}   // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription("Creates a test BBS installation for the OSPRINE mail server in DIR.");
    p.addHelpOption();
    p.addPositionalArgument("DIR", "Directory of the new installation (created when missing).");
    const QCommandLineOption users(
        "users", QString("Number of listed users (%1 to %2, default 12).").arg(kMinTestUsers).arg(kMaxTestUsers), "N");
    const QCommandLineOption systemId("system-id", "Internet system id, the BBS's domain (default bbs.example).", "ID");
    const QCommandLineOption port("port", "SMTP port the server listens on (default 2525).", "P");
    const QCommandLineOption esmtp("esmtp", "Offer the ESMTP extensions (SIZE, 8BITMIME, PIPELINING) at EHLO.");
    const QCommandLineOption authCheck(
        "authcheck", "Sender authentication (SPF, DKIM, DMARC) of received mail: 1 on (default), 0 off.", "0|1");
    p.addOptions({users, systemId, port, esmtp, authCheck});
    if (!p.parse(app.arguments())) return Fail(p.errorText());
    if (p.isSet("help")) p.showHelp(0);
    if (p.positionalArguments().size() != 1)
        return Fail(p.positionalArguments().isEmpty() ? "no directory given (osprine-mkbbs DIR [options])"
                                                      : "give exactly one directory");

    TestBbsOptions options;
    QString problem;
    if (!ReadNumber(p, users, options.users, problem) || !ReadNumber(p, port, options.port, problem))
        return Fail(problem);
    if (p.isSet(systemId)) options.systemId = p.value(systemId).toLocal8Bit();
    options.esmtp = p.isSet(esmtp);
    int check = 1;
    if (!ReadNumber(p, authCheck, check, problem)) return Fail(problem);
    if (check != 0 && check != 1) return Fail("--authcheck takes 0 or 1");
    options.authCheck = check == 1;

    const TestBbsLayout layout = CreateTestBbs(p.positionalArguments().first(), options, &problem);
    if (!problem.isEmpty()) return Fail(problem);
    std::printf("Created a test BBS in %s: %d users, system id %s, SMTP port %d.\n", qPrintable(layout.mainDir),
                options.users, options.systemId.trimmed().constData(), options.port);
    std::printf("Start the server there: cd %s && osprine\n", qPrintable(layout.mainDir));
    return 0;
}
