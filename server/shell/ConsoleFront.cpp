#include "server/shell/ConsoleFront.h"

#include "server/shell/Engine.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Statistics.h"
#include "server/store/Version.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};

void HandleSignal(int signal) {
    const char code = char(signal);
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &code, 1);
}

void Print(FILE* stream, const QByteArray& text) {
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}
}  // namespace

ConsoleFront::ConsoleFront(Engine& engine, QObject* parent)
    : QObject(parent), engine_(engine), interactive_(::isatty(STDOUT_FILENO) == 1) {
    if (!interactive_) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    connect(&engine_, &Engine::eventLine, this, &ConsoleFront::ShowLine);
    connect(&engine_, &Engine::messageBox, this,
            [](const QByteArray& title, const QByteArray& text) { Print(stderr, title + ": " + text); });
    connect(&engine_, &Engine::fatalError, this, [](const QByteArray& title, const QByteArray& text) {
        Print(stderr, title + ": " + text);
        QCoreApplication::exit(1);
    });
}

ConsoleFront::~ConsoleFront() { std::fflush(stdout); }

// On a terminal every line shows at once; into a pipe or a file the lines of
// one burst leave together before the event loop waits again.
void ConsoleFront::ShowLine(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    if (interactive_) {
        std::fflush(stdout);
    } else if (!flushHooked_) {
        if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
            connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [] { std::fflush(stdout); });
            flushHooked_ = true;
        } else {
            std::fflush(stdout);
        }
    }
}

bool ConsoleFront::InstallSignalHandlers() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return false;
    notifier_ = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ConsoleFront::OnSignal);
    struct sigaction action {};
    action.sa_handler = HandleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGUSR1}) sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void ConsoleFront::OnSignal() {
    char codes[16];
    const ssize_t n = ::recv(g_signalPipe[0], codes, sizeof codes, MSG_DONTWAIT);
    bool stop = false;
    for (ssize_t i = 0; i < n; ++i) {
        if (codes[i] == SIGUSR1) PrintCounters();
        else stop = true;
    }
    if (!stop) return;
    SaveDat();
    engine_.Shutdown();
    QCoreApplication::exit(0);
}

void ConsoleFront::PrintCounters() {
    const Statistics& s = engine_.Stats();
    const QByteArray line = "Active Connections: " + QByteArray::number(s.ActiveConnections) +
                            ", Total Connections: " + QByteArray::number(s.TotalConnections) +
                            ", Incoming: " + QByteArray::number(s.TotalIncoming) +
                            ", Outgoing: " + QByteArray::number(s.TotalOutgoing) +
                            ", Received: " + QByteArray::number(s.TotalReceived) +
                            ", Sent: " + QByteArray::number(s.TotalSent) + ", KB Received: " + FormatKB(s.KBReceived) +
                            ", KB Sent: " + FormatKB(s.KBSent) + ", Blocked IPs: " + QByteArray::number(s.BlockedIps) +
                            ", Blocked Relays: " + QByteArray::number(s.BlockedRelays) +
                            ", Blocked Subjects: " + QByteArray::number(s.BlockedSubjects) +
                            ", Blocked Headers: " + QByteArray::number(s.BlockedHeaders) +
                            ", Refused Per Address: " + QByteArray::number(s.RefusedPerAddress) +
                            ", Session Time Limits: " + QByteArray::number(s.SessionTimeLimits) +
                            ", Too Many Recipients: " + QByteArray::number(s.TooManyRecipients) +
                            ", Too Many Hops: " + QByteArray::number(s.TooManyHops);
    Print(stdout, line);
}

void ConsoleFront::LoadDat() {
    const QString file = WindowPath(engine_.Bbs().MainDir());
    if (engine_.Settings().SaveWindowPos != 1) {
        RemoveFile(file);
        return;
    }
    bool ok = false;
    const Text bytes = ReadFileBytes(file, &ok);
    if (!ok || bytes.size() < kWindowRecordSize) return;
    engine_.Window() = DecodeWindow(bytes);
    haveWindowRecord_ = true;
}

void ConsoleFront::SaveDat() {
    const QString file = WindowPath(engine_.Bbs().MainDir());
    if (engine_.Settings().SaveWindowPos != 1) {
        RemoveFile(file);
        return;
    }
    if (!haveWindowRecord_ || WriteFileAtomic(file, EncodeWindow(engine_.Window()))) return;
    engine_.Log().ShowEvent("Error: Error While Saving OSPRINE.DAT");
    engine_.Log().OsprineLog(0, "Error While Saving OSPRINE.DAT");
    LogError("SaveDat", kVersion, "modOSPRINE", "Cannot write OSPRINE.DAT");
}

int RunConsoleFront(Engine& engine, const QStringList& arguments) {
    ConsoleFront front(engine);
    front.InstallSignalHandlers();
    if (!engine.Start(arguments)) return 1;
    front.LoadDat();
    return QCoreApplication::exec();
}
