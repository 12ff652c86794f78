#include "server/shell/ConsoleFront.h"

#include "server/shell/Engine.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Statistics.h"
#include "server/store/Version.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QFileInfo>
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
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGHUP}) sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void ConsoleFront::OnSignal() {
    char codes[16];
    const ssize_t n = ::recv(g_signalPipe[0], codes, sizeof codes, MSG_DONTWAIT);
    bool stop = false;
    for (ssize_t i = 0; i < n; ++i) {
        if (codes[i] == SIGUSR1) PrintCounters();
        else if (codes[i] == SIGHUP) engine_.Reload();
        else stop = true;
    }
    if (!stop) return;
    SaveDat();
    engine_.Shutdown();
    QCoreApplication::exit(0);
}

void ConsoleFront::PrintCounters() { Print(stdout, CounterLines(engine_.Stats()).join(", ")); }

void ConsoleFront::LoadDat() {
    const QString file = WindowPath(engine_.Bbs().MainDir());
    if (!On(engine_.Settings().SaveWindowPos)) {
        RemoveFile(file);
        return;
    }
    // Without a screen the defaults are the record's own; a missing file
    // is created with them, as the window does.
    bool ok = QFileInfo::exists(file) || WriteFileAtomic(file, EncodeWindow(engine_.Window()));
    const Text bytes = ok ? ReadFileBytes(file, &ok) : Text();
    if (!ok || bytes.size() < kWindowRecordSize) {
        engine_.Log().ShowEvent("Error: Error While Loading OSPRINE.DAT");
        engine_.Log().OsprineLog(0, "Error While Loading OSPRINE.DAT");
        LogError("LoadDat", kVersion, "modOSPRINE", "Cannot read OSPRINE.DAT");
        return;
    }
    engine_.Window() = DecodeWindow(bytes);
}

void ConsoleFront::SaveDat() {
    const QString file = WindowPath(engine_.Bbs().MainDir());
    if (!On(engine_.Settings().SaveWindowPos)) {
        RemoveFile(file);
        return;
    }
    if (WriteFileAtomic(file, EncodeWindow(engine_.Window()))) return;
    engine_.Log().ShowEvent("Error: Error While Saving OSPRINE.DAT");
    engine_.Log().OsprineLog(0, "Error While Saving OSPRINE.DAT");
    LogError("SaveDat", kVersion, "modOSPRINE", "Cannot write OSPRINE.DAT");
}

int RunConsoleFront(Engine& engine, const QStringList& arguments) {
    ConsoleFront front(engine);
    front.InstallSignalHandlers();
    if (!engine.Start(arguments)) return 1;
    // As the window does: "/RESETWINDOW" forgets the saved window position.
    if (arguments.join(' ').toUpper().contains("/RESETWINDOW") && On(engine.Settings().SaveWindowPos)) {
        engine.Settings().SaveWindowPos = 0;
        engine.SaveCfg();
    }
    front.LoadDat();
    return QCoreApplication::exec();
}
