#include "platform/runtime/grid_timer.h"
#include "platform/runtime/retry_backoff.h"
#include "platform/runtime/shared_ticks.h"
#include "support/virtual_scheduler.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>
#include <vector>

using platform::VirtualScheduler;

TEST(VirtualScheduler, RunsDueStepsInTimeOrderThenFifoIncludingThoseScheduledMeanwhile) {
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

    VirtualScheduler s;
    std::vector<double> times;
    s.after(0.2, [&] {
        times.push_back(s.elapsed());
        s.after(0.3, [&] { times.push_back(s.elapsed()); });  // due at 0.5, inside the window
        s.after(2.0, [&] { times.push_back(s.elapsed()); });  // beyond it
    });
    s.after(-3, [&] { times.push_back(-1); });  // negative and NaN delays run now
    s.after(std::numeric_limits<double>::quiet_NaN(), [&] { times.push_back(-1); });
    s.advance(1.0);
    EXPECT_EQ(times, (std::vector<double>{-1, -1, 0.2, 0.5}));
    EXPECT_DOUBLE_EQ(s.elapsed(), 1.0);
    EXPECT_EQ(s.pendingCount(), 1u);
}

TEST(VirtualScheduler, PostRunsOnlyOnDrainNestedPostsAndThoseFromWorkersToo) {
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

TEST(VirtualScheduler, RepeatingTimerTicksUntilItsHandleGoesOrItInvalidatesItself) {
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

    platform::RepeatingTimer timer;
    timer = s.every(1.0, [&] {
        if (++ticks == 5) timer.invalidate();
    });
    s.advance(10.0);
    EXPECT_EQ(ticks, 5);
    EXPECT_FALSE(timer.isValid());
}

TEST(VirtualScheduler, ClockRandomSourceAndLifetime) {
    VirtualScheduler s;
    const auto wall0 = s.wallNow();
    s.advance(1.5);
    EXPECT_EQ(s.monotonicMicros(), 1'500'000);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(s.wallNow() - wall0).count(), 1500);
    s.setRandomSource([] { return 0.5; });
    EXPECT_DOUBLE_EQ(s.randomUniform(15, 180), 97.5);

    platform::Lifetime lifetime;  // wrapped callbacks stop after a reset
    int calls = 0;
    auto cb = lifetime.wrap([&](int n) { calls += n; });
    cb(2);
    lifetime.reset();
    cb(5);
    EXPECT_EQ(calls, 2);
}

namespace {

TEST(RetryBackoff, DoublesUpToItsCeilingAndStartsOverAfterASuccess) {
    using std::chrono::seconds;
    platform::RetryBackoff backoff(seconds(2), seconds(64));
    std::vector<long> waits;
    for (int i = 0; i < 8; ++i) waits.push_back(std::chrono::duration_cast<seconds>(backoff.next()).count());
    EXPECT_EQ(waits, (std::vector<long>{2, 4, 8, 16, 32, 64, 64, 64}));
    backoff.reset();
    EXPECT_EQ(backoff.next(), seconds(2));
}

}  // namespace

TEST(GridTimer, PausedTicksAreLeftOutAndResumedOnesFallOnTheGridOfItsStart) {
    platform::VirtualScheduler scheduler;
    std::vector<double> ticks;
    platform::GridTimer timer(scheduler, 0.3, [&] { ticks.push_back(scheduler.elapsed()); });
    scheduler.advance(0.05);
    timer.start();  // grid: 0.35, 0.65, 0.95, ...
    scheduler.advance(0.7);
    timer.pause();
    EXPECT_FALSE(timer.isTicking());
    scheduler.advance(0.5);  // 0.95 and 1.25 are left out
    timer.resume();  // at 1.25 exactly: that point is over, the next is 1.55
    timer.resume();  // a second resume lays no second tick
    scheduler.advance(0.65);
    ASSERT_EQ(ticks.size(), 4u);
    const std::vector<double> expected{0.35, 0.65, 1.55, 1.85};
    for (size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i], expected[i], 1e-6) << i;
    timer.stop();

    // Paused from inside its own tick, resumed between two points.
    platform::GridTimer selfPausing(scheduler, 1.0, [&] {
        ticks.push_back(scheduler.elapsed());
        selfPausing.pause();
    });
    ticks.clear();
    selfPausing.start();  // grid from 1.9
    scheduler.advance(3.4);
    selfPausing.resume();
    scheduler.advance(1.0);
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_NEAR(ticks[0], 2.9, 1e-6);
    EXPECT_NEAR(ticks[1], 5.9, 1e-6);

    // Stopped, it neither ticks nor resumes.
    selfPausing.stop();
    selfPausing.resume();
    timer.resume();
    scheduler.advance(5.0);
    EXPECT_EQ(ticks.size(), 2u);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST(SharedTicks, TimersOfOneIntervalStartedTogetherShareATickAndKeepTheirPeriods) {
    platform::VirtualScheduler scheduler;
    int rawTimers = 0;
    platform::SharedTicks ticks([&] { return scheduler.monotonicMicros(); },
                                [&](double interval, std::function<void()> fn) {
                                    ++rawTimers;
                                    return scheduler.every(interval, std::move(fn));
                                });
    std::vector<std::pair<char, double>> fired;
    auto record = [&](char name) { return [&fired, &scheduler, name] { fired.emplace_back(name, scheduler.elapsed()); }; };

    // Display and keyboard polls started a moment apart: one tick, the second's first firing
    // 2 ms early, both every 0.3 s after.
    platform::RepeatingTimer display = ticks.every(0.3, record('d'));
    scheduler.advance(0.002);
    platform::RepeatingTimer keyboard = ticks.every(0.3, record('k'));
    // Started later than the tolerance allows: a tick of its own. Another interval: its own too.
    scheduler.advance(0.1);
    platform::RepeatingTimer late = ticks.every(0.3, record('l'));
    platform::RepeatingTimer slow = ticks.every(1.0, record('s'));
    EXPECT_EQ(rawTimers, 3);
    EXPECT_EQ(ticks.tickCount(), 3u);

    scheduler.advance(0.55);  // to 0.652
    const std::vector<std::pair<char, double>> expected{{'d', 0.3}, {'k', 0.3}, {'l', 0.402}, {'d', 0.6}, {'k', 0.6}};
    ASSERT_EQ(fired.size(), expected.size());
    for (size_t i = 0; i < fired.size(); ++i) {
        EXPECT_EQ(fired[i].first, expected[i].first) << i;
        EXPECT_NEAR(fired[i].second, expected[i].second, 1e-6) << i;
    }

    // One leaves: the other keeps the tick; the last to leave ends it.
    fired.clear();
    display.invalidate();
    scheduler.advance(0.3);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].first, 'l');
    EXPECT_EQ(fired[1].first, 'k');
    keyboard.invalidate();
    late.invalidate();
    slow.invalidate();
    EXPECT_EQ(ticks.tickCount(), 0u);
    EXPECT_EQ(scheduler.pendingCount(), 0u);

    // A member that leaves from inside its own call, while the other still fires in that tick.
    fired.clear();
    platform::RepeatingTimer once;
    once = ticks.every(0.5, [&] {
        fired.emplace_back('o', scheduler.elapsed());
        once.invalidate();
    });
    platform::RepeatingTimer stays = ticks.every(0.5, record('t'));
    scheduler.advance(1.0);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[0].first, 'o');
    EXPECT_EQ(fired[1].first, 't');
    EXPECT_EQ(fired[2].first, 't');
}
