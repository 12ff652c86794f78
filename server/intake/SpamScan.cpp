#include "server/intake/SpamScan.h"

#include "server/bbs/MessageFiles.h"
#include "server/store/Files.h"

#include <QDir>
#include <QFileInfo>

namespace {
const Text kNotFound = "SpamAssassin Error: Message could not be found.";
const Text kStartFailed = "SpamAssassin Error: An error occurred while executing SpamAssassin.";
const Text kTimeout = "SpamAssassin Error: Timeout waiting for results.";
const Text kNoResults = "SpamAssassin Error: No results given.";
const Text kCompleted = "SpamAssassin execution completed.";
}   // namespace

int SpamScan::running_ = 0;
std::deque<QPointer<SpamScan>> SpamScan::waiting_;

QString SpamScan::Program() { return QStringLiteral("spamassassin"); }

QString SpamScan::ScratchDir(const ServerContext& ctx) {
    const QString temp = ctx.Bbs().TempDir();
    const QString queue = ctx.Bbs().QueueDir();
    if (queue.isEmpty() || QDir::cleanPath(temp).compare(QDir::cleanPath(queue), Qt::CaseInsensitive) != 0) return temp;
    const QString scratch = PathJoin(temp, QStringLiteral("OSPRSCAN"));
    QDir().mkpath(scratch);
    return scratch;
}

SpamScan* SpamScan::ExecuteSpamAssassin(const ServerContext& ctx, int16_t slot, const Text& message, Done done,
                                        QObject* parent) {
    auto* scan = new SpamScan(ctx, slot, message, std::move(done), parent);
    if (running_ < kMaxScanners)
        scan->Start();
    else
        waiting_.push_back(scan);
    return scan;
}

SpamScan::SpamScan(const ServerContext& ctx, int16_t slot, const Text& message, Done done, QObject* parent)
    : QObject(parent), ctx_(ctx), slot_(slot), message_(message), done_(std::move(done)) {
    timeout_.setSingleShot(true);
    timeout_.setTimerType(Qt::PreciseTimer);   // a coarse timer may end the wait a second early
    timeout_.setInterval(kSpamScanTimeoutMs);
    connect(&timeout_, &QTimer::timeout, this, &SpamScan::OnTimeout);
    connect(&process_, &QProcess::finished, this, &SpamScan::OnFinished);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        RemoveScratchFiles();   // the output was made for the scanner before it failed to start
        Release();
        Finish(message_, kStartFailed);
    });
}

SpamScan::~SpamScan() {
    process_.disconnect(this);
    Release();
}

void SpamScan::Release() {
    if (!holdsScanner_) return;
    holdsScanner_ = false;
    --running_;
    while (running_ < kMaxScanners && !waiting_.empty()) {
        const QPointer<SpamScan> next = waiting_.front();
        waiting_.pop_front();
        if (next) next->Start();
    }
}

void SpamScan::RemoveScratchFiles() {
    if (!input_.isEmpty()) RemoveFile(input_);
    if (!output_.isEmpty()) RemoveFile(output_);
}

void SpamScan::Start() {
    if (Trim(message_).isEmpty()) {
        Finish(message_, {});
        return;
    }
    const QString dir = ScratchDir(ctx_);
    const int n = WriteNewMessageFile(dir, message_);
    if (n == 0) {
        Finish(message_, kNotFound);
        return;
    }
    input_ = PathJoin(dir, MessageFileName(n));
    output_ = PathJoin(dir, QStringLiteral("R%1.D").arg(n));
    // The output file is made here, new and never through a link; the
    // scanner only appends to it.
    if (!CreateExclusive(output_)) {
        RemoveFile(input_);
        input_.clear();
        output_.clear();
        Finish(message_, kNotFound);
        return;
    }
    // No shell: the scratch paths go to the scanner as its standard streams.
    process_.setStandardInputFile(input_);
    process_.setStandardOutputFile(output_, QIODevice::Append);
    process_.setStandardErrorFile(QProcess::nullDevice());
    holdsScanner_ = true;
    ++running_;
    process_.start(Program(), {QStringLiteral("-D"), QStringLiteral("-t")});
    if (!finished_) timeout_.start();
}

void SpamScan::OnFinished() {
    Release();
    if (finished_) {
        // A scanner stopped for taking too long: its scratch files go with it.
        RemoveScratchFiles();
        deleteLater();
        return;
    }
    RemoveFile(input_);
    if (!QFileInfo::exists(output_)) {
        Finish(message_, kNoResults);
        return;
    }
    const Text result = ReadFileBytes(output_);
    RemoveFile(output_);
    if (result.isEmpty()) {
        Finish(message_, kNoResults);
        return;
    }
    Finish(result, kCompleted);
}

void SpamScan::OnTimeout() {
    if (finished_) return;
    // The message goes on unscanned; the scanner is stopped and its scratch
    // files are removed when it has ended.
    Finish(message_, kTimeout);
    process_.kill();
}

void SpamScan::Finish(const Text& result, const Text& event) {
    if (finished_) return;
    finished_ = true;
    timeout_.stop();
    if (!event.isEmpty()) ctx_.Log().Report(slot_, event);
    // Called from the loop, never from inside Start(), so the caller's
    // continuation always runs after ExecuteSpamAssassin has returned.
    QMetaObject::invokeMethod(
        this,
        [this, result] {
            if (done_) done_(result);
            done_ = nullptr;
            // A scanner still running ends this scan when it has gone.
            if (process_.state() == QProcess::NotRunning) deleteLater();
        },
        Qt::QueuedConnection);
}
