#include "platform/animation/animation.h"
#include "support/virtual_scheduler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <cstdlib>

using platform::Animated;
using platform::Animation;
using platform::AnimationRecorder;
using platform::TimingCurve;
using platform::VirtualScheduler;
using platform::withAnimation;

namespace {

// The Bézier point for parameter s, to check the solver against the curve's own definition.
std::pair<double, double> bezierPoint(const TimingCurve& c, double s) {
    auto axis = [s](double p1, double p2) {
        return 3 * (1 - s) * (1 - s) * s * p1 + 3 * (1 - s) * s * s * p2 + s * s * s;
    };
    return {axis(c.x1, c.x2), axis(c.y1, c.y2)};
}

class AnimationTest : public ::testing::Test {
protected:
    VirtualScheduler clock;
};

}  // namespace

TEST(TimingCurve, SolvesTimeToOutputOnSteepAndFlatCurves) {
    for (const TimingCurve& curve : {TimingCurve{0.2, 0.8, 0.25, 1.0}, TimingCurve{0.25, 0.12, 0.25, 1.0},
                                     TimingCurve::easeInOut(), TimingCurve{0.0, 0.0, 1.0, 0.0},
                                     TimingCurve{1.0, 0.0, 0.0, 1.0}}) {
        double previous = 0.0;
        for (int i = 0; i <= 200; ++i) {
            const auto [x, y] = bezierPoint(curve, i / 200.0);
            EXPECT_NEAR(curve.valueAt(x), y, 1e-6) << "curve " << curve.x1 << "," << curve.y1 << " s=" << i / 200.0;
            EXPECT_GE(curve.valueAt(x) + 1e-9, previous);
            previous = curve.valueAt(x);
        }
    }
    EXPECT_DOUBLE_EQ(TimingCurve::linear().valueAt(0.3), 0.3);
    EXPECT_NEAR(TimingCurve::easeInOut().valueAt(0.5), 0.5, 1e-7);
    EXPECT_EQ(TimingCurve::easeInOut().valueAt(-1.0), 0.0);
    EXPECT_EQ(TimingCurve::easeInOut().valueAt(2.0), 1.0);
}

TEST_F(AnimationTest, TimingCurveIsSampledOnTheSchedulerClockAndCompletesOnTime) {
    Animated<double> v(0.0, clock);
    const TimingCurve curve{0.2, 0.8, 0.25, 1.0};
    int completions = 0;
    withAnimation(Animation::timingCurve(0.2, 0.8, 0.25, 1.0, 0.42), [&] { v.set(100.0); }, [&] { ++completions; },
                  clock);
    EXPECT_EQ(v.target(), 100.0);
    EXPECT_EQ(v.value(), 0.0);

    clock.advance(0.21);
    EXPECT_NEAR(v.value(), 100.0 * curve.valueAt(0.5), 1e-9);
    EXPECT_TRUE(v.isAnimating());
    clock.advance(0.209999);
    EXPECT_EQ(completions, 0);
    clock.advance(0.000001);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(v.value(), 100.0);
    EXPECT_FALSE(v.isAnimating());
}

// A test build stands in for a busy machine: each completion runs QUILLVEX_TEST_COMPLETION_MS
// after its animation's end. The setting is read once, so the test runs in a process of its own.
TEST(AnimationTestSeams, ABusyMachinesCompletionsRunLateWhileTheValueEndsOnTime) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            qputenv("QUILLVEX_TEST_COMPLETION_MS", "150");
            const bool late = [] {
                VirtualScheduler clock;
                Animated<double> v(0.0, clock);
                int completions = 0;
                withAnimation(Animation::linear(0.2), [&] { v.set(1.0); }, [&] { ++completions; }, clock);
                clock.advance(0.2);
                const bool endedOnTime = v.value() == 1.0 && completions == 0;
                clock.advance(0.15);
                return endedOnTime && completions == 1;
            }();
            std::exit(late ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(AnimationTest, InterruptionStartsFromTheValueOnShowKeepsEachCompletionOnItsOwnClockAndColoursInterpolate) {
    Animated<QRectF> frame(QRectF(0, 0, 100, 10), clock);
    std::vector<double> done;
    withAnimation(Animation::linear(1.0), [&] { frame.set(QRectF(100, 0, 100, 10)); },
                  [&] { done.push_back(clock.elapsed()); }, clock);
    clock.advance(0.25);
    withAnimation(Animation::linear(0.5), [&] { frame.set(QRectF(0, 0, 200, 10)); },
                  [&] { done.push_back(clock.elapsed()); }, clock);
    EXPECT_EQ(frame.lastAnimation()->from, QRectF(25, 0, 100, 10));
    clock.advance(0.25);
    EXPECT_EQ(frame.value(), QRectF(12.5, 0, 150, 10));
    clock.advance(1.0);
    EXPECT_EQ(done, (std::vector<double>{0.75, 1.0}));

    // Colours interpolate componentwise (QColor keeps 16 bits per component).
    Animated<QColor> c(QColor::fromRgbF(0, 0, 0, 1), clock);
    c.animate(QColor::fromRgbF(0.2f, 0.4f, 1.0f, 0.0f), Animation::linear(1.0));
    clock.advance(0.5);
    const QColor mid = c.value();
    EXPECT_NEAR(mid.redF(), 0.1, 1e-4);
    EXPECT_NEAR(mid.greenF(), 0.2, 1e-4);
    EXPECT_NEAR(mid.blueF(), 0.5, 1e-4);
    EXPECT_NEAR(mid.alphaF(), 0.5, 1e-4);
}

TEST_F(AnimationTest, SpringMatchesTheDampedOscillatorAndSettlesExactlyOnTarget) {
    Animated<double> v(0.0, clock);
    const double response = 0.5, zeta = 0.5;
    bool finished = false;
    v.animate(1.0, Animation::spring(response, zeta), [&] { finished = true; });

    // First overshoot of an underdamped spring released from rest: at π/ωd, by exp(-ζπ/√(1-ζ²)).
    const double omega = 2 * std::numbers::pi / response;
    const double peakTime = std::numbers::pi / (omega * std::sqrt(1 - zeta * zeta));
    clock.advance(std::round(peakTime * 1e6) / 1e6);
    EXPECT_NEAR(v.value(), 1.0 + std::exp(-zeta * std::numbers::pi / std::sqrt(1 - zeta * zeta)), 1e-4);
    EXPECT_NEAR(v.velocity()[0], 0.0, 1e-2);

    clock.advance(5.0);
    EXPECT_TRUE(finished);
    EXPECT_EQ(v.value(), 1.0);

    // Critical damping never overshoots.
    Animated<double> w(0.0, clock);
    w.animate(1.0, Animation::spring(0.3, 1.0));
    for (int i = 0; i < 120; ++i) {
        clock.advance(0.01);
        EXPECT_LE(w.value(), 1.0 + 1e-12);
    }
}

TEST_F(AnimationTest, SpringRetargetKeepsValueAndVelocity) {
    for (double blend : {0.0, 0.2}) {
        Animated<QPointF> p(QPointF(0, 0), clock);
        p.animate(QPointF(100, 50), Animation::spring(0.4, 0.75));
        clock.advance(0.1);
        const QPointF before = p.value();
        const auto velocityBefore = p.velocity();
        p.animate(QPointF(-40, 0), Animation::spring(0.3, 0.85, blend));
        EXPECT_NEAR(p.value().x(), before.x(), 1e-9);
        EXPECT_NEAR(p.value().y(), before.y(), 1e-9);
        EXPECT_NEAR(p.velocity()[0], velocityBefore[0], 1e-6);
        EXPECT_NEAR(p.velocity()[1], velocityBefore[1], 1e-6);
        // Moving on along the old velocity for a moment, then home.
        clock.advance(0.001);
        EXPECT_GT(p.value().x(), before.x());
        clock.advance(5.0);
        EXPECT_EQ(p.value(), QPointF(-40, 0));
    }
}

TEST_F(AnimationTest, DelayHoldsOrContinuesThePreviousMotion) {
    Animated<double> v(0.0, clock);
    v.animate(10.0, Animation::linear(1.0).delay(0.5));
    clock.advance(0.4);
    EXPECT_EQ(v.value(), 0.0);
    clock.advance(0.6);
    EXPECT_DOUBLE_EQ(v.value(), 5.0);

    // A delayed retarget lets the running motion go on until the delay is over.
    v.animate(0.0, Animation::linear(1.0).delay(0.2));
    clock.advance(0.1);
    EXPECT_NEAR(v.value(), 6.0, 1e-6);
    clock.advance(0.1);
    EXPECT_NEAR(v.value(), 7.0, 1e-6);
    clock.advance(0.5);
    EXPECT_NEAR(v.value(), 3.5, 1e-6);
}

TEST_F(AnimationTest, RepeatsWithAutoreverseThenRestOnTheTarget) {
    Animated<double> v(1.0, clock);
    int completions = 0;
    v.animate(1.3, Animation::easeInOut(0.6).repeatCount(4, true), [&] { ++completions; });
    clock.advance(0.6);
    EXPECT_NEAR(v.value(), 1.3, 1e-9);
    clock.advance(0.3);
    EXPECT_NEAR(v.value(), 1.15, 1e-6);  // halfway back
    clock.advance(0.3);
    EXPECT_NEAR(v.value(), 1.0, 1e-9);
    clock.advance(1.2 - 1e-6);
    EXPECT_EQ(completions, 0);
    clock.advance(1e-6);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(v.value(), 1.3);  // the fourth pass ends at the start, then the value rests on its target

    Animated<double> forever(0.0, clock);
    bool done = false;
    forever.animate(1.0, Animation::linear(1.0).repeatForever(false), [&] { done = true; });
    clock.advance(100.25);
    EXPECT_NEAR(forever.value(), 0.25, 1e-6);
    EXPECT_TRUE(forever.isAnimating());
    EXPECT_FALSE(done);
}

TEST_F(AnimationTest, ListenersTickWhileMovingAndStopAfterTheEnd) {
    Animated<double> opacity(1.0, clock);
    std::vector<double> seen;
    auto sub = opacity.onChange([&] { seen.push_back(opacity.value()); });
    opacity.animate(0.0, Animation::linear(0.17));
    clock.advance(1.0);
    ASSERT_GE(seen.size(), 10u);
    EXPECT_EQ(seen.back(), 0.0);
    const size_t count = seen.size();
    EXPECT_EQ(clock.pendingCount(), 0u);  // no idle timer left behind
    clock.advance(1.0);
    EXPECT_EQ(seen.size(), count);

    platform::withoutAnimation([&] { opacity.set(0.5); });
    EXPECT_EQ(seen.back(), 0.5);
    sub.cancel();
    opacity.animate(1.0, Animation::linear(1.0));
    clock.advance(0.5);
    EXPECT_EQ(seen.size(), count + 1);
}

TEST_F(AnimationTest, TransactionsJumpInsideWithoutAnimationIgnoreUnchangedValuesAndAreRecorded) {
    AnimationRecorder recorder;
    Animated<double> a(0.0, clock);
    Animated<double> b(5.0, clock);
    bool springDone = false;
    withAnimation(
        Animation::spring(0.3, 0.85),
        [&] {
            a.set(1.0);
            b.set(5.0);  // already there
            platform::withoutAnimation([&] { b.set(7.0); });
        },
        [&] { springDone = true; }, clock);
    EXPECT_EQ(b.value(), 7.0);
    EXPECT_FALSE(b.lastAnimation());
    ASSERT_EQ(recorder.entries().size(), 1u);
    EXPECT_EQ(recorder.entries()[0].valueCount, 1);
    EXPECT_TRUE(recorder.entries()[0].animation.isSpring());

    // A spring transaction that moved nothing completes at once.
    bool emptyDone = false;
    withAnimation(Animation::spring(), [] {}, [&] { emptyDone = true; }, clock);
    clock.drain();
    EXPECT_TRUE(emptyDone);
    EXPECT_FALSE(springDone);
    clock.advance(3.0);
    EXPECT_TRUE(springDone);
}

namespace {

struct Heard {
    std::vector<double> times, values;
    uint64_t wakes = 0;  // steps the clock ran: each a wake-up of the thread
    double done = 0;     // when the completion ran
};

// Animates a value from 0 to `to`, optionally told its visible step, and lists what its listener heard.
Heard listen(double to, const Animation& animation, const std::function<void(Animated<double>&)>& step = {}) {
    VirtualScheduler s;
    Animated<double> value(0.0, s);
    if (step) step(value);
    Heard heard;
    auto sub = value.onChange([&] {
        heard.times.push_back(s.elapsed());
        heard.values.push_back(value.value());
    });
    withAnimation(animation, [&] { value.set(to); }, [&] { heard.done = s.elapsed(); }, s);
    s.advance(3.0);
    heard.wakes = s.runCount();
    return heard;
}

}  // namespace

TEST(VisibleStep, AValueDrawnRoundedIsHeardOnlyWhereItsPixelChangesOnTheSameTicksAsBefore) {
    // 30 points a second on a 60 Hz grid: a whole pixel every other frame.
    auto drawn = [](double v) { return std::lround(v + 0.3); };
    const Heard all = listen(-30.0, Animation::linear(1.0));
    const Heard some = listen(-30.0, Animation::linear(1.0), [](Animated<double>& v) { v.setVisibleGrid(1.0, 0.3); });
    std::vector<double> changes{all.times.front()};
    for (size_t i = 1; i < all.values.size(); ++i) {
        if (drawn(all.values[i]) != drawn(all.values[i - 1])) changes.push_back(all.times[i]);
    }
    ASSERT_EQ(changes.size(), 31u);
    EXPECT_EQ(some.times, changes);  // the last at the exact end
    for (size_t i = 1; i < some.values.size(); ++i) EXPECT_EQ(drawn(some.values[i]), drawn(some.values[i - 1]) - 1) << i;
    EXPECT_EQ(some.values.back(), -30.0);
    EXPECT_EQ(some.done, all.done);
    EXPECT_GE(all.wakes, 61u);
    EXPECT_LE(some.wakes, 32u);
}

TEST(VisibleStep, AValueOnARoundingEdgeIsHeardThoughItsOwnArithmeticRoundsTheOtherWay) {
    // The first tick lands a hair below the half: the drawing's own arithmetic may round it up.
    const double tick = 16667e-6;
    const Heard heard = listen(1.0, Animation::linear(tick / (0.5 - 1e-12)), [](Animated<double>& v) {
        v.setVisibleGrid(1.0, 0.0);
    });
    ASSERT_GE(heard.times.size(), 2u);
    EXPECT_NEAR(heard.times[1], tick, 1e-9);
}

TEST(VisibleStep, ASpringsTicksThatMoveItLessThanItsStepAreNotScheduledAndItEndsOnItsTarget) {
    const Animation spring = Animation::spring(0.4, 0.75);
    const Heard all = listen(1.0, spring);
    const Heard some = listen(1.0, spring, [](Animated<double>& v) { v.setVisibleStep(0.01); });
    // Replaying every tick: one is heard once the value moved a step from the last heard.
    std::vector<double> expected{all.times.front()};
    for (size_t i = 1, last = 0; i + 1 < all.values.size(); ++i) {
        if (std::abs(all.values[i] - all.values[last]) < 0.01) continue;
        expected.push_back(all.times[i]);
        last = i;
    }
    expected.push_back(all.times.back());
    EXPECT_EQ(some.times, expected);
    EXPECT_EQ(some.values.back(), 1.0);
    EXPECT_EQ(some.done, all.done);
    EXPECT_LT(some.wakes + 10, all.wakes);  // the creeping tail wakes nothing
}

TEST(VisibleStep, ANewMotionOrAnotherValueWakesTheSleepingClockOnItsGrid) {
    VirtualScheduler s;
    Animated<double> slow(0.0, s), fast(0.0, s);
    slow.setVisibleStep(1.0);
    std::vector<double> slowHeard, fastHeard;
    auto a = slow.onChange([&] { slowHeard.push_back(s.elapsed()); });
    auto b = fast.onChange([&] { fastHeard.push_back(s.elapsed()); });
    slow.animate(4.0, Animation::linear(2.0));  // a step every half second
    s.advance(0.1);
    EXPECT_EQ(s.runCount(), 0u);
    fast.animate(1.0, Animation::linear(0.1));  // every frame, on the same grid
    s.advance(0.2);
    ASSERT_GE(fastHeard.size(), 6u);
    EXPECT_NEAR(fastHeard[1], 0.100002, 1e-9);  // the grid's sixth tick
    // Retargeted to a faster motion, it is heard on the new one's first step, not the old one's.
    slow.animate(-40.0, Animation::linear(1.0));
    slowHeard.clear();
    s.advance(0.04);
    EXPECT_EQ(slowHeard.size(), 1u);
    s.advance(1.5);
    // Creeping a step in two seconds, the clock looks again after a second without a word.
    const double start = s.elapsed();
    slow.animate(-38.5, Animation::linear(3.0));
    slowHeard.clear();
    const uint64_t before = s.runCount();
    s.advance(3.5);
    ASSERT_EQ(slowHeard.size(), 2u);
    EXPECT_NEAR(slowHeard[0], start + 2.0, 1.0 / 60);
    EXPECT_EQ(s.runCount() - before, 3u);  // to look, the step, the end
    // A step made smaller while it moves is heard at once.
    slow.animate(1.0, Animation::linear(1.0));
    slow.setVisibleStep(0.0001);
    slowHeard.clear();
    s.advance(0.5);
    EXPECT_GE(slowHeard.size(), 29u);
}
