#include "server/shell/ConsoleFront.h"

#include "server/shell/Engine.h"
#include "server/shell/SignalPipe.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Statistics.h"
#include "server/store/Version.h"

#include <unistd.h>
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QFileInfo>
#include <csignal>
#include <cstdio>

namespace {
void Print(FILE* stream, const QByteArray& text) {
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}
}   // namespace

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
    signals_ = new SignalPipe([this](int signal) { OnSignal(signal); }, this);
    return signals_->Install({SIGTERM, SIGINT, SIGUSR1, SIGHUP});
}

// Signals that arrive together may be handed over in any order (any thread
// may take one): the counters are printed even behind a stop.
void ConsoleFront::OnSignal(int signal) {
    if (signal == SIGUSR1) {
        PrintCounters();
    } else if (stopping_) {
        return;
    } else if (signal == SIGHUP) {
        engine_.Reload();
    } else {
        stopping_ = true;
        SaveDat();
        engine_.Shutdown();
        QCoreApplication::exit(0);
    }
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

// One line once loaded: what runs, where it listens, whether it offers TLS,
// which installation it serves.
void ConsoleFront::SayStarted() {
    Print(stdout, Text("OSPRINE v") + kVersion + " listening on " + engine_.ListenAddress() + ", STARTTLS " +
                      (engine_.StartTlsOffered() ? "offered" : "not offered") + ", BBS main directory " +
                      TextFromPath(engine_.Bbs().MainDir()));
}

// Without its port the server is of no use: it ends with status 1 (after the
// message box's line), so that a service manager starts it again.
void ConsoleFront::EndWhenNotListening() {
    connect(&engine_, &Engine::stateChanged, this, [this] {
        if (stopping_ || engine_.Run().ServerState != ServerPhase::Online || engine_.Listening()) return;
        stopping_ = true;
        engine_.Shutdown();
        QCoreApplication::exit(1);
    });
}

int RunConsoleFront(Engine& engine, const QStringList& arguments) {
    ConsoleFront front(engine);
    front.InstallSignalHandlers();
    if (!engine.Start(arguments)) return 1;
    if (!engine.Listening()) {
        engine.Shutdown();
        return 1;
    }
    front.EndWhenNotListening();
    // As the window does: "/RESETWINDOW" forgets the saved window position.
    if (arguments.join(' ').toUpper().contains("/RESETWINDOW") && On(engine.Settings().SaveWindowPos)) {
        engine.Settings().SaveWindowPos = 0;
        engine.SaveCfg();
    }
    front.LoadDat();
    front.SayStarted();
    return QCoreApplication::exec();
}
