#include "support/virtual_scheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

using platform::VirtualScheduler;

TEST(VirtualScheduler, RunsDueStepsInTimeOrderThenFifo) {
    for (bool cancelB : {false, true}) {
        VirtualScheduler s;
        std::string trace;
        s.after(1.0, [&] { trace += 'a'; });
        auto b = s.after(1.0, [&] { trace += 'b'; });
        s.after(0.5, [&] { trace += 'c'; });
        if (cancelB) b.cancel();
        s.advance(1.0);
        EXPECT_EQ(trace, cancelB ? "ca" : "cab");
        EXPECT_FALSE(b.isPending());
    }
}

TEST(VirtualScheduler, StepsScheduledWhileAdvancingRunWhenDue) {
    VirtualScheduler s;
    std::vector<double> times;
    s.after(0.2, [&] {
        times.push_back(s.elapsed());
        s.after(0.3, [&] { times.push_back(s.elapsed()); });  // due at 0.5, inside the window
        s.after(2.0, [&] { times.push_back(s.elapsed()); });  // beyond it
    });
    s.advance(1.0);
    ASSERT_EQ(times.size(), 2u);
    EXPECT_DOUBLE_EQ(times[0], 0.2);
    EXPECT_DOUBLE_EQ(times[1], 0.5);
    EXPECT_DOUBLE_EQ(s.elapsed(), 1.0);
    EXPECT_EQ(s.pendingCount(), 1u);
}

TEST(VirtualScheduler, PostRunsOnlyOnDrainAndNestedPostsToo) {
    VirtualScheduler s;
    int runs = 0;
    s.post([&] {
        ++runs;
        s.post([&] { ++runs; });
    });
    EXPECT_EQ(runs, 0);
    s.drain();
    EXPECT_EQ(runs, 2);
    EXPECT_DOUBLE_EQ(s.elapsed(), 0.0);

    // Posting is allowed from worker threads; the steps still run on the draining thread.
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < 250; ++i) s.post([&] { ++runs; });
        });
    }
    for (auto& worker : workers) worker.join();
    s.drain();
    EXPECT_EQ(runs, 1002);
}

TEST(VirtualScheduler, RepeatingTimerTicksUntilHandleGoes) {
    VirtualScheduler s;
    int ticks = 0;
    {
        auto timer = s.every(0.8, [&] { ++ticks; });
        s.advance(2.5);
        EXPECT_EQ(ticks, 3);
    }
    s.advance(5.0);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(s.pendingCount(), 0u);
}

TEST(VirtualScheduler, TimerMayInvalidateItselfFromItsCallback) {
    VirtualScheduler s;
    int ticks = 0;
    platform::RepeatingTimer timer;
    timer = s.every(1.0, [&] {
        if (++ticks == 2) timer.invalidate();
    });
    s.advance(10.0);
    EXPECT_EQ(ticks, 2);
    EXPECT_FALSE(timer.isValid());
}

TEST(VirtualScheduler, ClockAndRandomSourceAreInjectable) {
    VirtualScheduler s;
    const auto wall0 = s.wallNow();
    s.advance(1.5);
    EXPECT_EQ(s.monotonicMicros(), 1'500'000);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(s.wallNow() - wall0).count(), 1500);
    s.setRandomSource([] { return 0.5; });
    EXPECT_DOUBLE_EQ(s.randomUniform(15, 180), 97.5);
}

TEST(VirtualScheduler, NegativeAndNanDelaysRunNow) {
    VirtualScheduler s;
    int runs = 0;
    s.after(-3, [&] { ++runs; });
    s.after(std::numeric_limits<double>::quiet_NaN(), [&] { ++runs; });
    s.drain();
    EXPECT_EQ(runs, 2);
}

TEST(Lifetime, WrappedCallbacksStopAfterReset) {
    platform::Lifetime lifetime;
    int calls = 0;
    auto cb = lifetime.wrap([&](int n) { calls += n; });
    cb(2);
    lifetime.reset();
    cb(5);
    EXPECT_EQ(calls, 2);
}
