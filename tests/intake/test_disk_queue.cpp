// The disk thread: jobs run in order away from the event loop, outcomes come
// back on it, and a directory that cannot be synced takes back every job of
// the pass that changed it.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <future>
#include "server/store/DiskQueue.h"

namespace {

struct Outcome {
    std::vector<bool> ok;
    bool onLoop = false;
    bool arrived = false;
};

std::function<void(std::vector<bool>)> Into(Outcome& o) {
    return [&o](std::vector<bool> ok) {
        o = {std::move(ok), QThread::currentThread() == QCoreApplication::instance()->thread(), true};
    };
}

void WaitFor(const Outcome& o) {
    const QDeadlineTimer deadline(30000);
    while (!o.arrived && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

}   // namespace

TEST(DiskQueue, RunsInOrderOffTheLoopAndTakesBackWhatAFailedDirectorySyncLeaves) {
    QObject context;
    DiskQueue queue;
    std::vector<std::string> order;   // written by the disk thread only
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> workOnLoop = false;
    int undone = 0;
    const auto Step = [&](std::string name, bool result) {
        return [&, name, result] {
            workOnLoop = workOnLoop || QThread::currentThread() == QCoreApplication::instance()->thread();
            order.push_back(name);
            return result;
        };
    };

    // The first pass holds the thread until the next two batches wait, so
    // that they share the second pass and its one sync of "missing".
    Outcome first, second, third;
    queue.Run({{[&, step = Step("a", true)] {
                  released.wait();
                  return step();
              }}},
              &context, Into(first));
    queue.Run({{Step("b", true), "/nonexistent/missing", [&] { ++undone; }}, {Step("c", false)}, {Step("d", true)}},
              &context, Into(second));
    queue.Run({{Step("e", true), "/nonexistent/missing", [&] { ++undone; }}}, &context, Into(third));
    release.set_value();
    WaitFor(third);
    WaitFor(second);
    WaitFor(first);

    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_FALSE(workOnLoop);
    EXPECT_TRUE(first.onLoop && second.onLoop && third.onLoop);
    EXPECT_EQ(first.ok, std::vector<bool>{true});
    // "b" and "e" changed the directory that could not be synced; "c" failed
    // by itself and is not undone; "d" owed no sync.
    EXPECT_EQ(second.ok, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(third.ok, std::vector<bool>{false});
    EXPECT_EQ(undone, 2);

    // Without a thread the same jobs run before Run returns.
    DiskQueue inline_(false);
    Outcome now;
    inline_.Run({{Step("f", true), QDir::tempPath(), [&] { ++undone; }}}, &context, Into(now));
    EXPECT_TRUE(now.arrived && now.onLoop);
    EXPECT_EQ(now.ok, std::vector<bool>{true});
    EXPECT_EQ(undone, 2);
}
