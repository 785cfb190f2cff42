#include "platform/qt_scheduler.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <atomic>

// The real scheduler is exercised through the event loop; waits end on the awaited event,
// bounded only as a safety net.
namespace {
void spinUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    for (int i = 0; i < 100000 && !done(); ++i) loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}
}  // namespace

TEST(QtScheduler, PostAndGlobalHopBackToMainThread) {
    platform::QtScheduler s;
    std::atomic<bool> done{false};
    QThread* mainThread = QThread::currentThread();
    QThread* workerThread = nullptr;
    QThread* resultThread = nullptr;
    s.global([&] {
        workerThread = QThread::currentThread();
        s.post([&] {
            resultThread = QThread::currentThread();
            done = true;
        });
    });
    spinUntil([&] { return done.load(); });
    EXPECT_NE(workerThread, mainThread);
    EXPECT_EQ(resultThread, mainThread);
}

TEST(QtScheduler, CancelledStepAndInvalidatedTimerNeverRun) {
    platform::QtScheduler s;
    bool cancelledRan = false;
    bool later = false;
    int ticks = 0;
    auto item = s.after(0.0, [&] { cancelledRan = true; });
    item.cancel();
    platform::RepeatingTimer timer = s.every(0.001, [&] {
        if (++ticks == 3) timer.invalidate();
    });
    s.after(0.05, [&] { later = true; });
    spinUntil([&] { return later; });
    EXPECT_FALSE(cancelledRan);
    EXPECT_EQ(ticks, 3);
}
