#include "server/store/DiskQueue.h"

#include "server/store/DurableFile.h"
#include "server/store/ErrorLog.h"
#include "server/store/Version.h"

#include <pthread.h>
#include <QFile>
#include <QSet>
#include <csignal>

namespace {

// The directory's sync failed: every job that owed it is taken back.
void DirectoryNotSynced(const QString& directory) {
    LogError("SyncDirectory", kVersion, "modOSPRINE", QFile::encodeName(SystemError(directory)));
}

}   // namespace

bool RunDiskJob(const DiskJob& job) {
    if (!job.work()) return false;
    if (job.directory.isEmpty() || SyncDirectory(job.directory)) return true;
    DirectoryNotSynced(job.directory);
    if (job.undo) job.undo();
    return false;
}

DiskJob ReportingFailure(DiskJob job, std::function<void()> report) {
    job.work = [work = std::move(job.work), report = std::move(report)] {
        if (work()) return true;
        report();
        return false;
    };
    return job;
}

DiskQueue::DiskQueue(bool ownThread) {
    if (!ownThread) return;
    // Signals stay the event loop's (the console front reads them in the
    // order they came): the thread starts with all of them blocked.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    thread_ = std::thread([this] { Loop(); });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

DiskQueue::~DiskQueue() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DiskQueue::Run(std::vector<DiskJob> jobs, QObject* context, std::function<void(std::vector<bool>)> done) {
    if (!thread_.joinable()) {
        std::vector<bool> ok;
        for (const DiskJob& job : jobs) ok.push_back(RunDiskJob(job));
        done(std::move(ok));
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        waiting_.push_back({std::move(jobs), context, std::move(done)});
    }
    wake_.notify_one();
}

void DiskQueue::Loop() {
    for (;;) {
        std::vector<Batch> pass;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (waiting_.empty()) return;   // stopping, and nothing left to do
            // Everything that arrived while the last pass waited for the disk.
            while (!waiting_.empty()) {
                pass.push_back(std::move(waiting_.front()));
                waiting_.pop_front();
            }
        }
        RunPass(pass);
    }
}

void DiskQueue::RunPass(std::vector<Batch>& pass) {
    std::vector<std::vector<bool>> outcomes;
    QSet<QString> owed;
    for (const Batch& batch : pass) {
        std::vector<bool>& ok = outcomes.emplace_back();
        for (const DiskJob& job : batch.jobs) {
            ok.push_back(job.work());
            if (ok.back() && !job.directory.isEmpty()) owed.insert(job.directory);
        }
    }
    for (const QString& directory : owed) {
        if (SyncDirectory(directory)) continue;
        DirectoryNotSynced(directory);
        for (size_t b = 0; b < pass.size(); ++b)
            for (size_t j = 0; j < pass[b].jobs.size(); ++j) {
                const DiskJob& job = pass[b].jobs[j];
                if (!outcomes[b][j] || job.directory != directory) continue;
                if (job.undo) job.undo();
                outcomes[b][j] = false;
            }
    }
    for (size_t b = 0; b < pass.size(); ++b) {
        Batch& batch = pass[b];
        QMetaObject::invokeMethod(
            batch.context,
            [done = std::move(batch.done), ok = std::move(outcomes[b])]() mutable { done(std::move(ok)); },
            Qt::QueuedConnection);
    }
}
