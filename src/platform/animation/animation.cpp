#include "platform/animation/animation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <numbers>

#ifdef QUILLVEX_TEST_SEAMS
#include <QThread>
#include <QtGlobal>
#endif

namespace platform {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Scheduler times are whole microseconds; a motion counts as over within half of one.
constexpr double kTimeEpsilon = 5e-7;
constexpr double kTickInterval = 1.0 / 60.0;
constexpr double kBlendStep = 1e-3;

struct Transaction {
    std::optional<Animation> animation;  // none: values jump
    Scheduler* scheduler = nullptr;
    double latestEnd = -kInfinity;
    int valueCount = 0;
};

#ifdef QUILLVEX_TEST_SEAMS
// A test build stands in for a slow machine: each frame then holds the main thread for at least
// QUILLVEX_TEST_FRAME_MS milliseconds, as drawing on a slow laptop does.
void holdTheFrameForTests() {
    static const int ms = qEnvironmentVariableIntValue("QUILLVEX_TEST_FRAME_MS");
    if (ms > 0) QThread::msleep(static_cast<unsigned long>(ms));
}
// ... or a busy one, whose late timers run in the order they fell due: each animation's completion
// then runs QUILLVEX_TEST_COMPLETION_MS milliseconds after its end, behind every frame due meanwhile.
double completionDelayForTests() {
    static const int ms = qEnvironmentVariableIntValue("QUILLVEX_TEST_COMPLETION_MS");
    return ms > 0 ? ms / 1000.0 : 0.0;
}
#else
void holdTheFrameForTests() {}
double completionDelayForTests() { return 0.0; }
#endif

Transaction* currentTransaction = nullptr;
std::vector<AnimationRecorder*> recorders;

class TransactionScope {
public:
    explicit TransactionScope(Transaction* transaction) : previous_(currentTransaction) {
        currentTransaction = transaction;
    }
    ~TransactionScope() { currentTransaction = previous_; }
    TransactionScope(const TransactionScope&) = delete;
    TransactionScope& operator=(const TransactionScope&) = delete;

private:
    Transaction* previous_;
};

int frameDepth = 0;
std::vector<std::function<void()>> frameEndWork;

}  // namespace

FrameScope::FrameScope() { ++frameDepth; }

FrameScope::~FrameScope() {
    if (frameDepth > 1) {
        --frameDepth;
        return;
    }
    // Still inside while the work runs, so what it asks for joins this frame's end.
    for (size_t i = 0; i < frameEndWork.size(); ++i) {
        auto work = std::move(frameEndWork[i]);
        work();
    }
    frameEndWork.clear();
    frameDepth = 0;
}

bool FrameScope::active() { return frameDepth > 0; }

void FrameScope::atEnd(std::function<void()> fn) {
    if (frameDepth == 0) {
        fn();
        return;
    }
    frameEndWork.push_back(std::move(fn));
}

struct AnimationRecorderAccess {
    static void add(const AnimationRecorder::Entry& entry) {
        for (auto* recorder : recorders) recorder->entries_.push_back(entry);
    }
};

// ---- Animation ---------------------------------------------------------------------------

Animation Animation::timingCurve(const TimingCurve& curve, double duration) {
    Animation a;
    a.curve_ = curve;
    a.duration_ = std::max(0.0, duration);
    return a;
}

Animation Animation::timingCurve(double x1, double y1, double x2, double y2, double duration) {
    return timingCurve(TimingCurve{x1, y1, x2, y2}, duration);
}

Animation Animation::spring(double response, double dampingFraction, double blendDuration) {
    return spring(Spring{response, dampingFraction, blendDuration});
}

Animation Animation::spring(const Spring& spring) {
    Animation a;
    a.spring_ = spring;
    return a;
}

Animation Animation::delay(double seconds) const {
    Animation a = *this;
    a.delay_ = std::max(0.0, seconds);
    return a;
}

Animation Animation::repeatCount(int count, bool autoreverses) const {
    Animation a = *this;
    a.repeatCount_ = count == kForever ? kForever : std::max(1, count);
    a.autoreverses_ = autoreverses;
    return a;
}

std::optional<double> Animation::totalTime() const {
    if (isSpring()) return std::nullopt;
    if (repeatCount_ == kForever) return duration_ > 0.0 ? kInfinity : delay_;
    return delay_ + duration_ * repeatCount_;
}

// ---- Transactions ------------------------------------------------------------------------

void withAnimation(const Animation& animation, const std::function<void()>& changes,
                   std::function<void()> completion, Scheduler& scheduler) {
    Transaction transaction;
    transaction.animation = animation;
    transaction.scheduler = &scheduler;
    const double start = scheduler.monotonicSeconds();
    {
        TransactionScope scope(&transaction);
        if (changes) changes();
    }
    AnimationRecorderAccess::add({animation, start, transaction.valueCount});
    if (!completion) return;

    double end;
    if (auto total = animation.totalTime()) {
        end = start + *total;
    } else {
        end = std::max(start, transaction.latestEnd);
    }
    if (!std::isfinite(end)) return;  // runs forever
    scheduler.after(end - scheduler.monotonicSeconds() + completionDelayForTests(), [completion = std::move(completion)] {
        const FrameScope frame;  // may start the next animation
        completion();
    });
}

void withoutAnimation(const std::function<void()>& changes) {
    Transaction transaction;
    TransactionScope scope(&transaction);
    if (changes) changes();
}

AnimationRecorder::AnimationRecorder() { recorders.push_back(this); }

AnimationRecorder::~AnimationRecorder() { std::erase(recorders, this); }

// ---- Colours -----------------------------------------------------------------------------

AnimationVector Animatable<QColor>::toVector(const QColor& c) {
    const QColor rgb = c.toRgb();
    return {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
}

QColor Animatable<QColor>::fromVector(const AnimationVector& v) {
    // Springs overshoot; a colour cannot.
    auto unit = [](double x) { return static_cast<float>(std::clamp(x, 0.0, 1.0)); };
    return QColor::fromRgbF(unit(v[0]), unit(v[1]), unit(v[2]), unit(v[3]));
}

// ---- Motions -----------------------------------------------------------------------------

namespace {

// One started animation of one channel.
struct Motion {
    explicit Motion(const Animation& a) : animation(a) {}

    Animation animation;
    int dims = 1;
    double start = 0.0;  // when it was started
    double begin = 0.0;  // start + delay
    double end = 0.0;    // when it reaches `to` for good (infinity: never)
    AnimationVector from{};
    AnimationVector to{};
    // What plays while the delay runs; without it, `from` holds.
    std::shared_ptr<const Motion> previous;

    // Springs: the velocity at `begin`, the response blend and the state after the blend.
    AnimationVector startVelocity{};
    double blendEnd = 0.0;
    double blendFromResponse = 0.0;
    AnimationVector restX{};
    AnimationVector restV{};

    AnimationVector valueAt(double t) const;
    AnimationVector velocityAt(double t) const;

    // Displacement and velocity `tau` seconds into the blend (response moving linearly from the
    // previous spring's to this one's), integrated with fourth-order Runge-Kutta.
    void integrateBlend(double tau, AnimationVector& x, AnimationVector& v) const;
};

void Motion::integrateBlend(double tau, AnimationVector& x, AnimationVector& v) const {
    const Spring& spring = *animation.springParameters();
    const double blend = blendEnd - begin;
    for (int i = 0; i < dims; ++i) {
        x[i] = from[i] - to[i];
        v[i] = startVelocity[i];
    }
    if (!(tau > 0.0)) return;
    auto accel = [&](double s, double xi, double vi) {
        const double fraction = blend > 0.0 ? std::clamp(s / blend, 0.0, 1.0) : 1.0;
        const double response = blendFromResponse + (spring.response - blendFromResponse) * fraction;
        const Spring now{response, spring.dampingFraction, 0.0};
        return -now.stiffness() * xi - now.damping() * vi;
    };
    const int steps = std::max(1, static_cast<int>(std::ceil(tau / kBlendStep)));
    const double h = tau / steps;
    for (int i = 0; i < dims; ++i) {
        double xi = x[i];
        double vi = v[i];
        for (int n = 0; n < steps; ++n) {
            const double s = n * h;
            const double k1x = vi, k1v = accel(s, xi, vi);
            const double k2x = vi + h / 2 * k1v, k2v = accel(s + h / 2, xi + h / 2 * k1x, vi + h / 2 * k1v);
            const double k3x = vi + h / 2 * k2v, k3v = accel(s + h / 2, xi + h / 2 * k2x, vi + h / 2 * k2v);
            const double k4x = vi + h * k3v, k4v = accel(s + h, xi + h * k3x, vi + h * k3v);
            xi += h / 6 * (k1x + 2 * k2x + 2 * k3x + k4x);
            vi += h / 6 * (k1v + 2 * k2v + 2 * k3v + k4v);
        }
        x[i] = xi;
        v[i] = vi;
    }
}

AnimationVector Motion::valueAt(double t) const {
    if (t >= end - kTimeEpsilon) return to;
    if (t < begin) return previous ? previous->valueAt(t) : from;
    AnimationVector out = to;
    if (const auto& curve = animation.curve()) {
        const double duration = animation.duration();
        const double passes = (t - begin) / duration;
        const double pass = std::floor(passes);
        double fraction = passes - pass;
        if (animation.autoreverses() && static_cast<int64_t>(pass) % 2 == 1) fraction = 1.0 - fraction;
        const double p = curve->valueAt(fraction);
        for (int i = 0; i < dims; ++i) out[i] = from[i] + (to[i] - from[i]) * p;
        return out;
    }
    const Spring& spring = *animation.springParameters();
    if (t < blendEnd) {
        AnimationVector x{}, v{};
        integrateBlend(t - begin, x, v);
        for (int i = 0; i < dims; ++i) out[i] = to[i] + x[i];
        return out;
    }
    for (int i = 0; i < dims; ++i) out[i] = to[i] + SpringMotion(spring, restX[i], restV[i]).position(t - blendEnd);
    return out;
}

AnimationVector Motion::velocityAt(double t) const {
    AnimationVector out{};
    if (t >= end - kTimeEpsilon) return out;
    if (t < begin) return previous ? previous->velocityAt(t) : out;
    if (const auto& curve = animation.curve()) {
        const double duration = animation.duration();
        const double passes = (t - begin) / duration;
        const double pass = std::floor(passes);
        double fraction = passes - pass;
        double direction = 1.0;
        if (animation.autoreverses() && static_cast<int64_t>(pass) % 2 == 1) {
            fraction = 1.0 - fraction;
            direction = -1.0;
        }
        const double slope = curve->slopeAt(fraction) * direction / duration;
        for (int i = 0; i < dims; ++i) out[i] = (to[i] - from[i]) * slope;
        return out;
    }
    const Spring& spring = *animation.springParameters();
    if (t < blendEnd) {
        AnimationVector x{};
        integrateBlend(t - begin, x, out);
        return out;
    }
    for (int i = 0; i < dims; ++i) out[i] = SpringMotion(spring, restX[i], restV[i]).velocity(t - blendEnd);
    return out;
}

}  // namespace

// ---- Frame clock ---------------------------------------------------------------------------

// One 60 Hz grid per scheduler, shared by every moving channel: values animated together change in
// the same pass of the event loop, so their views redraw once per frame rather than once per
// channel. The clock wakes only on the grid's ticks some entry asks for, and is dropped as soon as
// nothing moves.
class FrameClock {
public:
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

    // The grid: origin + k × period, in the scheduler's microseconds.
    struct Grid {
        int64_t origin = 0;
        int64_t period = 1;
        // The first tick strictly after `t`.
        int64_t after(int64_t t) const { return origin + ((t - origin) / period + 1) * period; }
    };

    static FrameClock& of(Scheduler& scheduler) {
        auto& clocks = all();
        auto it = clocks.find(&scheduler);
        if (it == clocks.end()) it = clocks.emplace(&scheduler, std::make_unique<FrameClock>(scheduler)).first;
        return *it->second;
    }

    explicit FrameClock(Scheduler& scheduler)
        : scheduler_(scheduler), grid_{scheduler.monotonicMicros(), scheduler.periodMicros(kTickInterval)} {}

    // `tick` runs on the ticks `plan` asks for (given the grid and the time to plan after, it
    // answers the first tick it needs, or kNever) until it returns false or is removed.
    using Plan = std::function<int64_t(const Grid&, int64_t after)>;
    void add(const void* owner, std::function<bool()> tick, Plan plan) {
        Entry entry{owner, std::make_shared<std::function<bool()>>(std::move(tick)), std::move(plan), kNever};
        entry.due = entry.plan(grid_, scheduler_.monotonicMicros());
        entries_.push_back(std::move(entry));
        schedule();
    }
    void remove(const void* owner) {
        std::erase_if(entries_, [owner](const Entry& e) { return e.owner == owner; });
        stopWhenIdle();
    }
    // What `owner` needs may have changed (a new motion, a new step).
    void replan(const void* owner) {
        for (Entry& entry : entries_) {
            if (entry.owner == owner) entry.due = entry.plan(grid_, scheduler_.monotonicMicros());
        }
        schedule();
    }

private:
    struct Entry {
        const void* owner;
        std::shared_ptr<std::function<bool()>> tick;
        Plan plan;
        int64_t due;
    };

    static std::map<Scheduler*, std::unique_ptr<FrameClock>>& all() {
        static std::map<Scheduler*, std::unique_ptr<FrameClock>> clocks;
        return clocks;
    }

    Entry* find(const std::shared_ptr<std::function<bool()>>& tick) {
        auto it = std::find_if(entries_.begin(), entries_.end(), [&tick](const Entry& e) { return e.tick == tick; });
        return it == entries_.end() ? nullptr : &*it;
    }

    void fire(int64_t due) {
        scheduled_ = kNever;
        const FrameScope frame;
        // A late timer plans from now, so missed ticks are left out rather than run in a burst.
        const int64_t from = std::max(due, scheduler_.monotonicMicros());
        // A tick may add or remove entries (a listener starting another animation).
        firing_ = true;
        std::vector<std::shared_ptr<std::function<bool()>>> dueTicks;
        for (const Entry& entry : entries_) {
            if (entry.due <= from) dueTicks.push_back(entry.tick);
        }
        for (const auto& tick : dueTicks) {
            if (!find(tick)) continue;
            const bool more = (*tick)();
            Entry* entry = find(tick);
            if (!entry) continue;
            if (!more) {
                std::erase_if(entries_, [&tick](const Entry& e) { return e.tick == tick; });
            } else {
                entry->due = entry->plan(grid_, from);
            }
        }
        firing_ = false;
        holdTheFrameForTests();
        if (!entries_.empty()) schedule();
        stopWhenIdle();  // may end this clock: nothing may follow
    }

    void schedule() {
        if (firing_) return;  // the firing tick schedules once it is done
        int64_t next = kNever;
        for (const Entry& entry : entries_) next = std::min(next, entry.due);
        if (next == scheduled_) return;
        timer_.cancel();
        scheduled_ = next;
        if (next == kNever) return;
        const double delay = static_cast<double>(next - scheduler_.monotonicMicros()) / 1e6;
        timer_ = scheduler_.after(delay, [this, next] { fire(next); });
    }

    // An idle clock is dropped, so a later scheduler at the same address starts afresh.
    void stopWhenIdle() {
        if (!entries_.empty() || firing_) return;
        timer_.cancel();
        all().erase(&scheduler_);
    }

    Scheduler& scheduler_;
    const Grid grid_;
    std::vector<Entry> entries_;
    WorkItem timer_;
    int64_t scheduled_ = kNever;
    bool firing_ = false;
};

// ---- Channel -----------------------------------------------------------------------------

struct AnimationChannel::Impl : std::enable_shared_from_this<AnimationChannel::Impl> {
    struct Listener {
        std::function<void()> fn;
        bool active = true;
    };

    int dims = 1;
    double threshold = 1e-3;
    Scheduler* scheduler = nullptr;
    AnimationVector target{};
    std::shared_ptr<const Motion> motion;
    std::optional<Record> last;
    std::vector<std::shared_ptr<Listener>> listeners;
    bool ticking = false;
    WorkItem endNotice;
    std::optional<VisibleStep> visibleStep;
    AnimationChannel::LooksSame looksSame;  // instead of the step
    AnimationVector delivered{};  // the value the listeners last heard

    double now() const { return scheduler->monotonicSeconds(); }
    bool moving(double t) const { return motion && t < motion->end - kTimeEpsilon; }

    AnimationVector valueAt(double t) const { return motion ? motion->valueAt(t) : target; }
    AnimationVector velocityAt(double t) const { return motion ? motion->velocityAt(t) : AnimationVector{}; }

    void notify() {
        delivered = valueAt(now());
        auto snapshot = listeners;
        for (auto& listener : snapshot) {
            if (!listener->active) continue;
            auto fn = listener->fn;
            fn();
        }
    }

    void stopTicking() {
        if (!ticking) return;
        ticking = false;
        FrameClock::of(*scheduler).remove(this);
    }

    void finishIfOver() {
        if (motion && !moving(now())) {
            motion.reset();
            stopTicking();
        }
    }

    // Whether listeners that last heard `delivered` would see `value` differ.
    bool shows(const AnimationVector& value) const {
        if (looksSame) return !looksSame(value, delivered);
        if (!visibleStep) return true;
        for (int i = 0; i < dims; ++i) {
            const double step = visibleStep->step[i];
            if (!(step > 0)) {
                if (value[i] != delivered[i]) return true;
            } else if (visibleStep->grid) {
                const double grid = (*visibleStep->grid)[i];
                const double drawn = value[i] / step + grid;
                if (std::llround(drawn) != std::llround(delivered[i] / step + grid)) return true;
                // On a rounding edge the drawing may round either way.
                if (std::abs(drawn - std::floor(drawn) - 0.5) < 1e-9) return true;
            } else if (std::abs(value[i] - delivered[i]) >= step * (1 - 1e-9)) {
                // Reached within rounding error counts as reached: a tick too many, never one too few.
                return true;
            }
        }
        return false;
    }

    // The first tick after `after` on which the listeners must hear the value: every tick without
    // a visible step; with one, the first where the value shows a change (the end notice comes
    // before any tick past the end), and past a second ahead the clock wakes to look again.
    int64_t plan(const FrameClock::Grid& grid, int64_t after) const {
        const int64_t first = grid.after(after);
        if ((!visibleStep && !looksSame) || !motion) return first;
        constexpr int kLookAhead = 60;
        int64_t t = first;
        for (int k = 0; k < kLookAhead; ++k, t += grid.period) {
            if (shows(motion->valueAt(static_cast<double>(t) / 1e6))) return t;
        }
        return t;
    }

    void replan() {
        if (ticking) FrameClock::of(*scheduler).replan(this);
    }

    void startTicking() {
        if (listeners.empty() || !moving(now()) || ticking) return;
        ticking = true;
        std::weak_ptr<Impl> weak = weak_from_this();
        FrameClock::of(*scheduler).add(
            this,
            [weak] {
                auto self = weak.lock();
                if (!self || !self->ticking) return false;
                self->finishIfOver();
                const bool more = self->ticking;
                // A tick woken to look further ahead shows nothing new.
                if (!more || self->shows(self->valueAt(self->now()))) self->notify();
                return more;
            },
            [weak](const FrameClock::Grid& grid, int64_t after) {
                auto self = weak.lock();
                return self ? self->plan(grid, after) : FrameClock::kNever;
            });
    }

    void jump(const AnimationVector& value) {
        target = value;
        motion.reset();
        endNotice.cancel();
        stopTicking();
        notify();
    }

    void animate(const AnimationVector& value, const Animation& animation, Transaction& transaction) {
        const double t = now();
        auto next = std::make_shared<Motion>(animation);
        next->dims = dims;
        next->start = t;
        next->begin = t + animation.delay();
        next->to = value;
        if (next->begin > t && moving(t)) next->previous = motion;
        next->from = valueAt(next->begin);

        if (animation.curve()) {
            const auto total = animation.totalTime();
            next->end = t + *total;
        } else {
            const Spring& spring = *animation.springParameters();
            next->startVelocity = velocityAt(next->begin);
            next->blendEnd = next->begin;
            const Motion* before = motion.get();
            if (spring.blendDuration > 0.0 && before && before->animation.isSpring() && moving(next->begin)) {
                next->blendFromResponse = before->animation.springParameters()->response;
                next->blendEnd = next->begin + spring.blendDuration;
            }
            next->integrateBlend(next->blendEnd - next->begin, next->restX, next->restV);
            const double settle = springSettleTime(spring, next->restX.data(), next->restV.data(), dims, threshold);
            next->end = next->blendEnd + settle;
        }

        target = value;
        motion = next;
        last = Record{animation, next->from, value, t};
        transaction.valueCount += 1;
        transaction.latestEnd = std::max(transaction.latestEnd, next->end);

        endNotice.cancel();
        if (std::isfinite(next->end)) {
            std::weak_ptr<Impl> weak = weak_from_this();
            endNotice = scheduler->after(next->end - t, [weak] {
                auto self = weak.lock();
                if (!self) return;
                const FrameScope frame;
                self->finishIfOver();
                self->notify();
            });
        }
        delivered = valueAt(t);  // what notify() hears below, which the ticks are planned from
        if (ticking) replan();   // the new motion may want another tick
        startTicking();
        notify();
    }
};

AnimationChannel::AnimationChannel(int dimensions, double settleThreshold, const AnimationVector& initial,
                                   Scheduler& scheduler)
    : impl_(std::make_shared<Impl>()) {
    impl_->dims = std::clamp(dimensions, 1, 4);
    impl_->threshold = settleThreshold;
    impl_->scheduler = &scheduler;
    impl_->target = initial;
}

AnimationChannel::~AnimationChannel() {
    impl_->endNotice.cancel();
    impl_->stopTicking();
}

AnimationVector AnimationChannel::value() const { return impl_->valueAt(impl_->now()); }

AnimationVector AnimationChannel::velocity() const { return impl_->velocityAt(impl_->now()); }

const AnimationVector& AnimationChannel::target() const { return impl_->target; }

bool AnimationChannel::isAnimating() const { return impl_->moving(impl_->now()); }

void AnimationChannel::set(const AnimationVector& value) {
    if (value == impl_->target) return;
    Transaction* transaction = currentTransaction;
    if (transaction && transaction->animation) {
        impl_->animate(value, *transaction->animation, *transaction);
    } else {
        impl_->jump(value);
    }
}

const std::optional<AnimationChannel::Record>& AnimationChannel::lastAnimation() const { return impl_->last; }

AnyCancellable AnimationChannel::onChange(std::function<void()> listener) const {
    auto entry = std::make_shared<Impl::Listener>(Impl::Listener{std::move(listener), true});
    impl_->listeners.push_back(entry);
    impl_->startTicking();
    std::weak_ptr<Impl> weak = impl_;
    std::weak_ptr<Impl::Listener> weakEntry = entry;
    return AnyCancellable([weak, weakEntry] {
        auto e = weakEntry.lock();
        if (!e) return;
        e->active = false;
        if (auto self = weak.lock()) {
            std::erase(self->listeners, e);
            if (self->listeners.empty()) self->stopTicking();
        }
    });
}

Scheduler& AnimationChannel::scheduler() const { return *impl_->scheduler; }

void AnimationChannel::setVisibleStep(std::optional<VisibleStep> step) {
    if (impl_->visibleStep == step && !impl_->looksSame) return;
    impl_->visibleStep = std::move(step);
    impl_->looksSame = nullptr;
    impl_->replan();
}

void AnimationChannel::setLooksSame(LooksSame same) {
    impl_->visibleStep.reset();
    impl_->looksSame = std::move(same);
    impl_->replan();
}

}  // namespace platform
