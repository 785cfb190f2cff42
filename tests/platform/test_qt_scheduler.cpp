#include "platform/runtime/qt_scheduler.h"

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
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
    s.post([] {});  // the scheduler's own object exists from here on
    auto* dispatcher = QAbstractEventDispatcher::instance();
    auto activeTimers = [dispatcher] {
        int active = 0;
        for (QObject* object : QCoreApplication::instance()->findChildren<QObject*>()) {
            active += static_cast<int>(dispatcher->registeredTimers(object).size());
        }
        return active;
    };
    // Stopped, and gone too, at once: a long-lived scheduler would otherwise keep every timer given up.
    auto objects = [] { return QCoreApplication::instance()->findChildren<QObject*>().size(); };
    const int before = activeTimers();
    const auto created = objects();
    auto item = s.after(600.0, [] {});
    ASSERT_EQ(activeTimers(), before + 1);
    item.cancel();
    EXPECT_EQ(activeTimers(), before);
    EXPECT_FALSE(item.isPending());
    EXPECT_EQ(objects(), created);

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

    // A step cancelled after it ran leaves the timer that took over its number running.
    bool next = false;
    auto done = s.after(0.0, [] {});
    spinUntil([&] { return !done.isPending(); });
    s.after(0.0, [&] { next = true; });
    done.cancel();
    spinUntil([&] { return next; });
    EXPECT_TRUE(next);
}

TEST(QtScheduler, TimersThatFireOrAreGivenUpPostNothingForTheLoopToWakeFor) {
    // Every event posted to the main thread while timers fire, are cancelled and are invalidated.
    struct PostedEvents : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::DeferredDelete || event->type() == QEvent::MetaCall) ++count;
            return false;
        }
    } posted;
    platform::QtScheduler s;
    int fired = 0, ticks = 0;
    platform::RepeatingTimer ticking;
    ticking = s.every(0.001, [&] {
        if (++ticks == 3) ticking.invalidate();
    });
    s.after(0.0, [&] { ++fired; });
    s.after(0.002, [&] { ++fired; });
    s.after(600.0, [&] { ++fired; }).cancel();
    platform::RepeatingTimer dropped = s.every(600.0, [&] { ++fired; });
    dropped.invalidate();
    QCoreApplication::instance()->installEventFilter(&posted);
    spinUntil([&] { return fired == 2 && ticks == 3; });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::instance()->removeEventFilter(&posted);
    EXPECT_EQ(fired, 2);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(posted.count, 0);
}
