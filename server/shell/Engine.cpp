#include "server/shell/Engine.h"

#include "server/bbs/MessageFiles.h"

#include "server/address/Recipients.h"
#include "server/bbs/UserDirectory.h"
#include "server/inbound/InboundServer.h"
#include "server/intake/Intake.h"
#include "server/intake/Tossing.h"
#include "server/outbound/OutboundClient.h"
#include "server/shell/Configuration.h"
#include "server/shell/DailyMaintenance.h"
#include "server/store/Dates.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
constexpr const char* kErrorTitle = "OSPRINE - Error";
constexpr const char* kSupportAddress = "support@osprine.example";
}   // namespace

Engine::Engine(QObject* parent)
    : QObject(parent), log_(QDir::currentPath(), settings_.MaxLogSize), ctx_{settings_, bbs_, stats_, log_, run_} {
    log_.SetSink([this](const Text& line) { emit eventLine(line); });
    log_.SetBoxSink([this](const Text& title, const Text& text) { emit messageBox(title, text); });
    // A counter that changes is only marked; the display and the file
    // follow on the next tick of Timer1.
    stats_.onUpdate = [this] { statsChanged_ = true; };
    for (QTimer* t : {&timer1_, &timer2_}) t->setInterval(1000);
    for (QTimer* t : {&timer3_, &timer4_}) t->setInterval(60000);
    connect(&timer1_, &QTimer::timeout, this, &Engine::Timer1_Timer);
    connect(&timer2_, &QTimer::timeout, this, &Engine::Timer2_Timer);
    connect(&timer3_, &QTimer::timeout, this, &Engine::Timer3_Timer);
    connect(&timer4_, &QTimer::timeout, this, &Engine::Timer4_Timer);
}

Engine::~Engine() = default;

bool Engine::Start(const QStringList& arguments) {
    Q_UNUSED(arguments);   // window placement is the window front's
    run_.AcceptLock.Hold();
    run_.ServerState = ServerPhase::Loading;
    run_.StartTime = QDateTime::currentDateTime();
    lastDisplayDate_ = QDate::currentDate();
    // The error log names the program by its executable's name.
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (!program.isEmpty()) SetErrorLogProgram(QFile::encodeName(program));

    if (!LoadCfg() || !LoadNetCfg()) return false;
    GetStats();
    WriteVersionRecord(bbs_.MainDir());
    DeleteTossBatch();
    RemoveUnfinishedFiles();

    intake_ = std::make_unique<Intake>(ctx_);
    inbound_ = std::make_unique<InboundServer>(ctx_, *intake_);
    outbound_ = std::make_unique<OutboundClient>(ctx_);

    run_.ServerState = ServerPhase::Online;
    log_.OsprineLog(0, Text("--- OSPRINE v") + kVersion + " Loaded");
    timer1_.start();
    timer2_.start();
    timer3_.start();
    if (On(settings_.SmtpClient)) timer4_.start();
    inbound_->OpenListenPort();
    inbound_->Zones().CheckZones();
    TossMessages(ctx_);
    UpdateStats();
    emit stateChanged();
    return true;
}

void Engine::Shutdown() {
    if (run_.ServerState == ServerPhase::Closing) return;
    run_.ServerState = ServerPhase::Closing;
    for (QTimer* t : {&timer1_, &timer2_, &timer3_, &timer4_}) t->stop();
    PutStats();
    if (inbound_) {
        inbound_->CloseListener();
        inbound_->CloseAllSessions();
    }
    if (outbound_) outbound_->Close();
    log_.OsprineLog(0, "--- OSPRINE Unloaded");
    emit stateChanged();
}

void Engine::Fatal(const Text& text) {
    run_.ServerState = ServerPhase::Closing;
    for (QTimer* t : {&timer1_, &timer2_, &timer3_, &timer4_}) t->stop();
    emit fatalError(kErrorTitle, text);
}

// A file that cannot be read ends a start but never a running server, which
// keeps the settings it runs with.
bool Engine::LoadCfg() {
    loadProblem_.clear();
    const LoadCfgResult result = LoadSettings(settings_, bbs_, log_, &loadProblem_);
    if (result == LoadCfgResult::Ok) return true;
    if (result == LoadCfgResult::ReadError && run_.ServerState == ServerPhase::Online) return false;
    Fatal(result == LoadCfgResult::ReadError ? loadProblem_ : LoadCfgMessage(result, bbs_));
    return false;
}

void Engine::SaveCfg() { SaveSettings(settings_, bbs_, log_); }

bool Engine::LoadNetCfg() {
    while (true) {
        const NetCfgResult result = ReadNetCfg(bbs_);
        if (result == NetCfgResult::Ok) return true;
        const Text text = NetCfgMessage(result, bbs_);
        if (result != NetCfgResult::InvalidSpoolDir || !onInvalidSpoolDir) {
            Fatal(text);
            return false;
        }
        emit messageBox(kErrorTitle, text);
        if (!onInvalidSpoolDir()) {
            Fatal(text);
            return false;
        }
    }
}

void Engine::ApplySettings() {
    if (outbound_) outbound_->ReloadSigning(true);
    if (inbound_) inbound_->ApplySettings();
    if (On(settings_.SmtpClient)) {
        if (!timer4_.isActive()) timer4_.start();
    } else {
        timer4_.stop();
    }
    if (!On(settings_.SaveStats)) RemoveFile(StatsPath(bbs_.MainDir()));
    UpdateStats();
    emit stateChanged();
}

bool Engine::Reload() {
    if (run_.ServerState != ServerPhase::Online) return false;
    if (!LoadCfg()) {
        if (!loadProblem_.isEmpty()) log_.ReportServer("Settings not reloaded: " + loadProblem_);
        return false;
    }
    if (!LoadNetCfg()) return false;
    ApplySettings();
    log_.ReportServer("Settings reloaded");
    emit stateChanged();
    return true;
}

QByteArray Engine::Control(const QByteArray& command) {
    if (command == "stats") return CounterLines(stats_).join("\n") + "\nOK\n";
    if (command == "status") return StatusLines().join("\n") + "\nOK\n";
    if (command == "reload") {
        if (!Reload())
            return loadProblem_.isEmpty() ? Text("ERROR: the settings could not be reloaded\n")
                                          : "ERROR: Settings not reloaded: " + loadProblem_ + "\n";
        if (inbound_ && inbound_->ListeningPort() != quint16(settings_.Port))
            return "OK: Port " + QByteArray::number(settings_.Port) +
                   " takes effect at a reload when no session is open\n";
        return "OK\n";
    }
    if (command == "flush") {
        if (!On(settings_.SmtpClient)) return "ERROR: the SMTP client is off (SmtpClient = 0)\n";
        if (OutboundConnected()) return "OK: a delivery is under way\n";
        Timer4_Timer();
        return "OK\n";
    }
    return "ERROR: unknown command\n";
}

Text Engine::InboundTlsState() {
    if (!inbound_) return Text();
    inbound_->ReloadTls();
    return inbound_->TlsReport();
}

bool Engine::IsActive() const { return inbound_ && inbound_->IsActive(); }

TextList Engine::StatusLines() const {
    return {"Server: running (pid " + Text::number(QCoreApplication::applicationPid()) + ")",
            Listening() ? "Listening: " + ListenAddress() : "Not listening: " + ListenFailure(),
            Text("STARTTLS: ") + (StartTlsOffered() ? "offered" : "not offered")};
}

bool Engine::Listening() const { return inbound_ && inbound_->IsListening(); }

Text Engine::ListenAddress() const {
    if (!Listening()) return {};
    return inbound_->ListenAddress().toLatin1() + " port " + Text::number(inbound_->ListeningPort());
}

Text Engine::ListenFailure() const { return inbound_ ? inbound_->ListenFailure() : Text(); }

bool Engine::StartTlsOffered() const { return inbound_ && inbound_->TlsActive(); }

QHash<Text, Text> Engine::ZonesOutOfService() const {
    return inbound_ ? inbound_->Zones().OutOfService() : QHash<Text, Text>();
}

bool Engine::OutboundConnected() const { return outbound_ && outbound_->IsConnected(); }

void Engine::UpdateStats() {
    if (run_.ServerState == ServerPhase::Closing) return;
    statsChanged_ = false;
    stats_.ActiveConnections = (inbound_ ? inbound_->ActiveSlots() : 0) + (OutboundConnected() ? 1 : 0);
    emit statsChanged();
    if (On(settings_.SaveStats)) PutStats();
}

void Engine::GetStats() {
    const QString file = StatsPath(bbs_.MainDir());
    if (On(settings_.SaveStats) && FileExists(file)) DecodeStats(ReadFileBytes(file), stats_);
}

void Engine::PutStats() {
    const QString file = StatsPath(bbs_.MainDir());
    const bool ok = On(settings_.SaveStats) ? WriteFileAtomicUnsynced(file, EncodeStats(stats_)) : RemoveFile(file);
    if (!ok) LogError("PutStats", kVersion, "frmMain", "Cannot write OSPRSTAT.DAT");
}

void Engine::DeleteTossBatch() { RemoveFile(PathJoin(bbs_.MainDir(), "OSPRTOSS.BAT")); }

// A server that ended in the middle of writing a message file leaves it under
// its temporary name; the message was never acknowledged, so it is litter.
void Engine::RemoveUnfinishedFiles() {
    const QString temp = bbs_.TempDir();
    for (const QString& dir : {bbs_.SpoolTmpDir(), bbs_.QueueDir(), temp, PathJoin(temp, "OSPRSCAN")}) {
        if (dir.isEmpty()) continue;
        if (const int removed = RemoveStaleMessageTemporaries(dir); removed > 0)
            log_.OsprineLog(0, "Removed " + Text::number(removed) + " unfinished file(s) from " + TextFromPath(dir));
    }
}

void Engine::Timer1_Timer() {
    run_.AcceptLock.OpenForTick(inbound_ ? inbound_->AdmissionsPerTick() : 1);
    if (inbound_) inbound_->AcceptPending();
    if (statsChanged_) UpdateStats();   // at most once a second, however many sessions counted
    const QDateTime now = QDateTime::currentDateTime();
    if (now.date() != lastDisplayDate_) {
        lastDisplayDate_ = now.date();
        emit dailyDisplayReset();
        log_.ShowEvent(DailyDisplayResetLine(now));
    }
}

void Engine::Timer2_Timer() {
    if (run_.ServerState != ServerPhase::Online) return;
    Text fault;
    if (inbound_ && !inbound_->SupervisionTick(&fault)) {
        LogError("Timer2_Timer", kVersion, "frmMain", fault);
        Shutdown();
        emit fatalError("OSPRINE Critical Error",
                        Text("Error: Error in Timer2 Routine. Please send the following information to ") +
                            kSupportAddress + ":\r\n" + fault);
        return;
    }
    // Read right after the sessions' tick: a slot it has just timed out or
    // cleared does not hold the maintenance back.
    const bool busy = inbound_ && SessionBusy(*inbound_);
    if (outbound_) outbound_->SupervisionTick();
    TossMessages(ctx_);
    if (MaintenanceDue(settings_, busy, QDate::currentDate())) DailyMaintenance();
}

void Engine::Timer3_Timer() {
    if (LoadCfg()) LoadNetCfg();
    if (inbound_) inbound_->ReloadTls();
    if (outbound_) outbound_->ReloadSigning(false);
    emit stateChanged();
}

void Engine::Timer4_Timer() {
    if (outbound_ && run_.ServerState == ServerPhase::Online) outbound_->Timer4_Timer();
}

void Engine::DailyMaintenance() {
    const Text passthru = CreatePassThruString(ctx_);
    CreateHandlesUIP(bbs_, settings_.AutorespondUser, passthru);
    CreateHandlesFID(bbs_, settings_.AutorespondUser, "");
    const QDateTime now = QDateTime::currentDateTime();
    settings_.LastMaintDate = YyMmDd(now.date());
    SaveCfg();
    log_.ShowEvent(DailyMaintenanceLine(now));
    log_.OsprineLog(0, "Daily Maintenance Performed");
}
