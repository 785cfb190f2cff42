#include "platform/runtime/qt_scheduler.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

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
    // A fresh scheduler whose first post comes from several workers at once.
    platform::QtScheduler s;
    constexpr int workers = 4, postsEach = 50;
    std::atomic<int> delivered{0};
    QThread* mainThread = QThread::currentThread();
    std::atomic<bool> offMain{true}, onMain{true};
    for (int w = 0; w < workers; ++w) {
        s.global([&] {
            if (QThread::currentThread() == mainThread) offMain = false;
            for (int i = 0; i < postsEach; ++i) {
                s.post([&] {
                    if (QThread::currentThread() != mainThread) onMain = false;
                    ++delivered;
                });
            }
        });
    }
    spinUntil([&] { return delivered.load() == workers * postsEach; });
    EXPECT_EQ(delivered.load(), workers * postsEach);
    EXPECT_TRUE(offMain);
    EXPECT_TRUE(onMain);
}

TEST(QtScheduler, CancelledStepsInvalidatedTimersAndADeadSchedulersStepsNeverRun) {
    bool cancelledRan = false;
    platform::RepeatingTimer orphan;  // outlives its scheduler, harmlessly
    {
        platform::QtScheduler gone;
        gone.post([&] { cancelledRan = true; });
        orphan = gone.every(0.001, [&] { cancelledRan = true; });
    }
    platform::QtScheduler s;
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

TEST(QtScheduler, ACancelledDelayedStepStopsItsTimerSoItNeverWakesTheThread) {
    platform::QtScheduler s;
    auto activeTimers = [] {
        int active = 0;
        for (const QTimer* timer : QCoreApplication::instance()->findChildren<QTimer*>()) active += timer->isActive();
        return active;
    };
    // Stopped, and gone too: a long-lived scheduler would otherwise keep every timer given up.
    auto timers = [] { return QCoreApplication::instance()->findChildren<QTimer*>().size(); };
    const int before = activeTimers();
    auto item = s.after(600.0, [] {});
    ASSERT_EQ(activeTimers(), before + 1);
    const auto created = timers();
    item.cancel();
    EXPECT_EQ(activeTimers(), before);
    EXPECT_FALSE(item.isPending());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(timers(), created - 1);

    // A step that cancels itself as it runs, and one that runs on.
    bool ran = false;
    platform::WorkItem self;
    self = s.after(0.0, [&] {
        self.cancel();
        ran = true;
    });
    spinUntil([&] { return ran; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(activeTimers(), before);
}
