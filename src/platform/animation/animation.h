#pragma once

// The animation kit: values that move over time on the Scheduler's clock.
//
//   platform::Animated<double> scale{1.0};
//   auto redraw = scale.onChange([this] { update(); });
//   platform::withAnimation(platform::Animation::spring(0.4, 0.75), [&] { scale.set(0.35); });
//   platform::withAnimation(platform::Animation::timingCurve(0.2, 0.8, 0.25, 1.0, 0.42),
//                           [&] { frame.set(end); }, [this] { isShowAnimating = false; });
//
// - An `Animation` says how a value moves: a cubic-Bézier timing curve over a duration, or a spring
//   (response, damping fraction, blend duration; mass 1), optionally delayed and repeated (a count
//   or forever, with or without autoreverse). Repeats apply to timing curves.
// - `Animated<T>` holds a target and, while an animation runs, computes its value from the
//   scheduler's monotonic clock at each read, so tests on a VirtualScheduler advance time and
//   sample exactly. A new animation starts from the value on show; a spring also keeps the
//   velocity. While something listens (`onChange`) and the value moves, the listeners are called
//   on every tick of a shared 1/60 s grid, and once more at the exact end.
// - A value told how far it must move before it looks different (`setVisibleStep`,
//   `setVisibleGrid` for a value drawn rounded, `setLooksSame`) calls its listeners only on the ticks where it
//   has, and the frame clock sleeps through ticks on which no value would: the ticks that do run
//   fall where they always did, and the exact end is always delivered.
// - `set()` animates when called inside `withAnimation`, and jumps otherwise (or inside
//   `withoutAnimation`). Setting the value it already targets does nothing.
// - `withAnimation`'s completion runs once the animation's time is up: delay + duration × repeats
//   for a timing curve, whether anything moved or was interrupted; for a spring, when the last
//   value it moved has settled (every component's amplitude below the type's threshold).
// - Tests read what a value was last animated with (`lastAnimation()`: animation, from, to, start),
//   and `AnimationRecorder` lists every `withAnimation` call while it lives.
// - Animatable types: double, QPointF, QSizeF, QRectF and QColor (sRGB components and alpha);
//   another type opts in by specialising `Animatable`.
//
// Main thread only.

#include "platform/animation/animation_curve.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

// How a value moves. Cheap to copy; compared field by field.
class Animation {
public:
    static constexpr int kForever = -1;

    static Animation timingCurve(const TimingCurve& curve, double duration);
    static Animation timingCurve(double x1, double y1, double x2, double y2, double duration);
    static Animation linear(double duration = 0.35) { return timingCurve(TimingCurve::linear(), duration); }
    static Animation easeIn(double duration = 0.35) { return timingCurve(TimingCurve::easeIn(), duration); }
    static Animation easeOut(double duration = 0.35) { return timingCurve(TimingCurve::easeOut(), duration); }
    static Animation easeInOut(double duration = 0.35) { return timingCurve(TimingCurve::easeInOut(), duration); }
    static Animation spring(double response = 0.55, double dampingFraction = 0.825, double blendDuration = 0.0);
    static Animation spring(const Spring& spring);

    // Copies with a start delay, or a repeat (a pass count, or kForever).
    Animation delay(double seconds) const;
    Animation repeatCount(int count, bool autoreverses = true) const;
    Animation repeatForever(bool autoreverses = true) const { return repeatCount(kForever, autoreverses); }

    bool isSpring() const { return spring_.has_value(); }
    const std::optional<TimingCurve>& curve() const { return curve_; }
    const std::optional<Spring>& springParameters() const { return spring_; }
    double duration() const { return duration_; }  // one pass of a timing curve; 0 for a spring
    double delay() const { return delay_; }
    int repeatCount() const { return repeatCount_; }
    bool autoreverses() const { return autoreverses_; }
    // delay + duration × passes for a timing curve (infinity when forever); none for a spring,
    // whose length depends on where it starts.
    std::optional<double> totalTime() const;

    friend bool operator==(const Animation&, const Animation&) = default;

private:
    Animation() = default;
    std::optional<TimingCurve> curve_;
    std::optional<Spring> spring_;
    double duration_ = 0.0;
    double delay_ = 0.0;
    int repeatCount_ = 1;
    bool autoreverses_ = false;
};

// Every Animated value set while `changes` runs animates with `animation` (the innermost call
// wins); `completion` then runs once on `scheduler` as described at the top of this file.
void withAnimation(const Animation& animation, const std::function<void()>& changes,
                   std::function<void()> completion = {}, Scheduler& scheduler = Scheduler::shared());
// Values set while `changes` runs jump to their new value, even inside withAnimation.
void withoutAnimation(const std::function<void()>& changes);

// A frame of animation: the frame clock's tick, a motion's exact end, an animation's completion.
// What their listeners ask to redraw is drawn at the outermost frame's end, in the same pass of
// the event loop (frame_paint.h).
class FrameScope {
public:
    FrameScope();
    ~FrameScope();
    FrameScope(const FrameScope&) = delete;
    FrameScope& operator=(const FrameScope&) = delete;

    static bool active();
    // Runs `fn` when the outermost frame ends; at once outside a frame.
    static void atEnd(std::function<void()> fn);
};

// Lists every withAnimation call made while it lives (tests).
class AnimationRecorder {
public:
    struct Entry {
        Animation animation;
        double startTime;  // scheduler's monotonic seconds
        int valueCount;    // values it set in motion
    };
    AnimationRecorder();
    ~AnimationRecorder();
    AnimationRecorder(const AnimationRecorder&) = delete;
    AnimationRecorder& operator=(const AnimationRecorder&) = delete;

    const std::vector<Entry>& entries() const { return entries_; }
    void clear() { entries_.clear(); }

private:
    friend struct AnimationRecorderAccess;
    std::vector<Entry> entries_;
};

// Up to four components; every animatable type maps onto it component by component.
using AnimationVector = std::array<double, 4>;

template <class T>
struct Animatable;

template <>
struct Animatable<double> {
    static constexpr int dimensions = 1;
    static constexpr double settleThreshold = 1e-3;
    static AnimationVector toVector(double v) { return {v, 0, 0, 0}; }
    static double fromVector(const AnimationVector& v) { return v[0]; }
};

template <>
struct Animatable<QPointF> {
    static constexpr int dimensions = 2;
    static constexpr double settleThreshold = 1e-2;  // points
    static AnimationVector toVector(const QPointF& p) { return {p.x(), p.y(), 0, 0}; }
    static QPointF fromVector(const AnimationVector& v) { return {v[0], v[1]}; }
};

template <>
struct Animatable<QSizeF> {
    static constexpr int dimensions = 2;
    static constexpr double settleThreshold = 1e-2;
    static AnimationVector toVector(const QSizeF& s) { return {s.width(), s.height(), 0, 0}; }
    static QSizeF fromVector(const AnimationVector& v) { return {v[0], v[1]}; }
};

template <>
struct Animatable<QRectF> {
    static constexpr int dimensions = 4;
    static constexpr double settleThreshold = 1e-2;
    static AnimationVector toVector(const QRectF& r) { return {r.x(), r.y(), r.width(), r.height()}; }
    static QRectF fromVector(const AnimationVector& v) { return {v[0], v[1], v[2], v[3]}; }
};

template <>
struct Animatable<QColor> {
    static constexpr int dimensions = 4;
    static constexpr double settleThreshold = 1e-3;
    static AnimationVector toVector(const QColor& c);
    static QColor fromVector(const AnimationVector& v);
};

// How much of a motion can be seen, component by component. A component whose step is 0 shows
// every change. Without a grid a change shows once it reaches the step from the value last
// delivered (a device pixel of a position, half an alpha step of an opacity); with one, the value
// is drawn as round(value / step + grid) and a change shows where that whole number changes.
struct VisibleStep {
    AnimationVector step{};
    std::optional<AnimationVector> grid;
    friend bool operator==(const VisibleStep&, const VisibleStep&) = default;
};

// The untyped engine under Animated<T>.
class AnimationChannel {
public:
    struct Record {
        Animation animation;
        AnimationVector from;
        AnimationVector to;
        double startTime;
    };

    AnimationChannel(int dimensions, double settleThreshold, const AnimationVector& initial, Scheduler& scheduler);
    ~AnimationChannel();
    AnimationChannel(const AnimationChannel&) = delete;
    AnimationChannel& operator=(const AnimationChannel&) = delete;

    AnimationVector value() const;
    AnimationVector velocity() const;  // per second
    const AnimationVector& target() const;
    bool isAnimating() const;
    void set(const AnimationVector& target);
    const std::optional<Record>& lastAnimation() const;
    AnyCancellable onChange(std::function<void()> listener) const;
    Scheduler& scheduler() const;
    // None (the default): listeners hear every tick while the value moves.
    void setVisibleStep(std::optional<VisibleStep> step);
    // Any other rule: whether listeners that last heard `heard` would show `value` no differently.
    using LooksSame = std::function<bool(const AnimationVector& value, const AnimationVector& heard)>;
    void setLooksSame(LooksSame same);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

template <class T>
class Animated {
public:
    using Traits = Animatable<T>;

    struct Record {
        Animation animation;
        T from;
        T to;
        double startTime;
    };

    explicit Animated(const T& initial = T{}, Scheduler& scheduler = Scheduler::shared())
        : channel_(Traits::dimensions, Traits::settleThreshold, Traits::toVector(initial), scheduler) {}

    // The value on show now.
    T value() const { return Traits::fromVector(channel_.value()); }
    // Per-component velocity per second, in the type's component order.
    AnimationVector velocity() const { return channel_.velocity(); }
    // Where the value is going (or stands).
    T target() const { return Traits::fromVector(channel_.target()); }
    bool isAnimating() const { return channel_.isAnimating(); }

    void set(const T& value) { channel_.set(Traits::toVector(value)); }
    void animate(const T& value, const Animation& animation, std::function<void()> completion = {}) {
        withAnimation(animation, [&] { set(value); }, std::move(completion), channel_.scheduler());
    }

    std::optional<Record> lastAnimation() const {
        const auto& r = channel_.lastAnimation();
        if (!r) return std::nullopt;
        return Record{r->animation, Traits::fromVector(r->from), Traits::fromVector(r->to), r->startTime};
    }

    // Called on every jump, every 1/60 s while moving (or only on the ticks where it moved as far
    // as its visible step), and at the end of a motion.
    AnyCancellable onChange(std::function<void()> listener) const { return channel_.onChange(std::move(listener)); }

    // A change of a component smaller than its step from the value last delivered shows nothing.
    void setVisibleStep(const T& step) { channel_.setVisibleStep(VisibleStep{Traits::toVector(step), std::nullopt}); }
    // The value is drawn as round(value / step + grid), component by component.
    void setVisibleGrid(const T& step, const T& grid) {
        channel_.setVisibleStep(VisibleStep{Traits::toVector(step), Traits::toVector(grid)});
    }
    void clearVisibleStep() { channel_.setVisibleStep(std::nullopt); }
    // Any other rule, from what its listeners make of the value (a rectangle rounded to whole pixels).
    void setLooksSame(std::function<bool(const T& value, const T& heard)> same) {
        channel_.setLooksSame([same = std::move(same)](const AnimationVector& value, const AnimationVector& heard) {
            return same(Traits::fromVector(value), Traits::fromVector(heard));
        });
    }

private:
    AnimationChannel channel_;
};

}  // namespace platform
