#include "server/store/DiskQueue.h"

#include "server/store/DurableFile.h"
#include "server/store/ErrorLog.h"
#include "server/store/Version.h"

#include <pthread.h>
#include <QFile>
#include <QSet>
#include <csignal>

namespace {

// Runs the work of every job of every list, then syncs each directory that
// the successful ones changed, once; a directory that cannot be synced takes
// back every job that changed it. Each job's outcome, list by list.
std::vector<std::vector<bool>> Settle(const std::vector<const std::vector<DiskJob>*>& lists) {
    std::vector<std::vector<bool>> outcomes;
    QSet<QString> owed;
    for (const std::vector<DiskJob>* jobs : lists) {
        std::vector<bool>& ok = outcomes.emplace_back();
        for (const DiskJob& job : *jobs) {
            ok.push_back(job.work());
            if (ok.back() && !job.directory.isEmpty()) owed.insert(job.directory);
        }
    }
    for (const QString& directory : owed) {
        if (SyncDirectory(directory)) continue;
        LogError("SyncDirectory", kVersion, "modOSPRINE", QFile::encodeName(SystemError(directory)));
        for (size_t l = 0; l < lists.size(); ++l)
            for (size_t j = 0; j < lists[l]->size(); ++j) {
                const DiskJob& job = (*lists[l])[j];
                if (!outcomes[l][j] || job.directory != directory) continue;
                if (job.undo) job.undo();
                outcomes[l][j] = false;
            }
    }
    return outcomes;
}

}   // namespace

bool RunDiskJob(const DiskJob& job) {
    const std::vector<DiskJob> one{job};
    return Settle({&one})[0][0];
}

bool DiskSink::Take(DiskJob job) const {
    if (!later_) return RunDiskJob(job);
    later_->push_back(std::move(job));
    return true;
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
        done(Settle({&jobs})[0]);
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
    std::vector<const std::vector<DiskJob>*> lists;
    for (const Batch& batch : pass) lists.push_back(&batch.jobs);
    std::vector<std::vector<bool>> outcomes = Settle(lists);
    for (size_t b = 0; b < pass.size(); ++b) {
        QMetaObject::invokeMethod(
            pass[b].context,
            [done = std::move(pass[b].done), ok = std::move(outcomes[b])]() mutable { done(std::move(ok)); },
            Qt::QueuedConnection);
    }
}
