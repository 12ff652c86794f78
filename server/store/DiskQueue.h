#pragma once
// The server's one thread besides the event loop: it waits for the disk.
// A message is answered 250 only once its files are on stable storage, and
// that wait (fdatasync, the directory's fsync) must not hold up the other
// sessions. The intake hands its stores here as jobs; the thread runs them
// in the order given and syncs each directory they changed once per pass,
// however many jobs of that pass changed it (group commit). The outcome
// comes back on the event loop.
#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// One store. `work` runs on the disk thread and does file work only: no
// event window, no counters, nothing the event loop reads (the error log,
// written a line at a time under its lock, is the exception). When it changed
// a name in `directory`, that directory is synced before the job counts as
// done; if the sync fails, `undo` takes the work back and the job fails.
struct DiskJob {
    std::function<bool()> work;
    QString directory = {};
    std::function<void()> undo = {};
};

// Runs the job on the calling thread, its directory synced at once.
bool RunDiskJob(const DiskJob& job);
// Where a writer's file work goes: run now on the calling thread, or
// deferred to a list of jobs that the disk thread runs later.
class DiskSink {
public:
    static DiskSink Now() { return DiskSink(nullptr); }
    static DiskSink DeferTo(std::vector<DiskJob>& jobs) { return DiskSink(&jobs); }
    // The job's outcome when run now; true when deferred (the outcome is then the job's).
    bool Take(DiskJob job) const;

private:
    explicit DiskSink(std::vector<DiskJob>* later) : later_(later) {}
    std::vector<DiskJob>* later_;
};
// The job, with `report` called on the disk thread when its work fails (the
// error log is safe to write there).
DiskJob ReportingFailure(DiskJob job, std::function<void()> report);

class DiskQueue {
public:
    // With `ownThread` false every job runs on the caller's thread at once
    // (a fuzzer's input must end within one call).
    explicit DiskQueue(bool ownThread = true);
    // Finishes the jobs already handed over, then ends the thread.
    ~DiskQueue();
    DiskQueue(const DiskQueue&) = delete;
    DiskQueue& operator=(const DiskQueue&) = delete;

    // Runs the jobs in order; `done` then gets each job's outcome, on the
    // thread of `context`, which must outlive the queue (its owner, typically:
    // outcomes that arrive while the owner is torn down are dropped with it).
    void Run(std::vector<DiskJob> jobs, QObject* context, std::function<void(std::vector<bool>)> done);

private:
    struct Batch {
        std::vector<DiskJob> jobs;
        QObject* context;
        std::function<void(std::vector<bool>)> done;
    };
    void Loop();
    // One pass: every batch settled together, then each outcome sent back.
    static void RunPass(std::vector<Batch>& pass);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Batch> waiting_;
    bool stopping_ = false;
    std::thread thread_;
};
