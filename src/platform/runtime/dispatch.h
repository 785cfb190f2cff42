#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// A delayed or posted step that can be cancelled before it runs. Copies share one state;
// dropping every copy does not cancel the step (fire-and-forget stays possible).
class WorkItem {
public:
    WorkItem() = default;
    void cancel();
    bool isPending() const;  // scheduled, not yet run, not cancelled

    // Atomic: a step posted from a worker thread may be cancelled there while the main thread
    // is about to run it.
    struct State {
        std::atomic<bool> cancelled{false};
        std::atomic<bool> done{false};
        // Set before the item is handed out, never after: what a cancel also does (a scheduler
        // stopping the timer that would otherwise still wake its thread).
        std::function<void()> onCancel;
    };
    explicit WorkItem(std::shared_ptr<State> state) : state_(std::move(state)) {}

private:
    std::shared_ptr<State> state_;
};

// A repeating timer. The handle owns the timer: destroying or invalidating it stops the timer,
// so an owner that keeps its timer as a member can never be called after its death.
class RepeatingTimer {
public:
    RepeatingTimer() = default;
    explicit RepeatingTimer(std::function<void()> invalidate) : invalidate_(std::move(invalidate)) {}
    RepeatingTimer(RepeatingTimer&& other) noexcept;
    RepeatingTimer& operator=(RepeatingTimer&& other) noexcept;
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;
    ~RepeatingTimer();

    void invalidate();
    bool isValid() const { return static_cast<bool>(invalidate_); }

private:
    std::function<void()> invalidate_;
};

// The main queue, its run-loop timers, the global queue and the clock. Everything in the
// project that waits or defers goes through one of these, so tests can swap in virtual time.
class Scheduler {
public:
    using Clock = std::chrono::system_clock;
    virtual ~Scheduler() = default;

    // The process-wide main scheduler (the Qt event loop unless a test installed another).
    static Scheduler& shared();
    // Installs `scheduler` as shared (nullptr restores the default); returns the previous one.
    static Scheduler* setShared(Scheduler* scheduler);

    virtual Clock::time_point wallNow() const = 0;
    // Monotonic time in whole microseconds since an arbitrary origin.
    virtual int64_t monotonicMicros() const = 0;
    double monotonicSeconds() const { return static_cast<double>(monotonicMicros()) / 1e6; }

    // Runs `fn` on the main thread after the current work. The one call that is safe from any
    // thread: blocking work hands its result back through it.
    virtual WorkItem post(std::function<void()> fn) = 0;
    // Runs `fn` on the main thread after `seconds` (negative counts as zero). Main thread only.
    virtual WorkItem after(double seconds, std::function<void()> fn) = 0;
    // Runs `fn` every `interval` seconds on the main thread until the handle is invalidated.
    // Main thread only.
    virtual RepeatingTimer every(double interval, std::function<void()> fn) = 0;
    // The period `every(interval)` really keeps, in whole microseconds: a timer that wakes only
    // on some of those ticks schedules them on this grid.
    virtual int64_t periodMicros(double interval) const;
    // Runs blocking `fn` off the main thread; hand results back with post().
    virtual void global(std::function<void()> fn) = 0;

    // Uniform random value in [lo, hi).
    double randomUniform(double lo, double hi);
    void setRandomSource(std::function<double()> zeroToOne) { random_ = std::move(zeroToOne); }

private:
    std::function<double()> random_;
};

// Keeps callbacks from outliving their owner: an object holds a Lifetime and wraps the callbacks
// it hands out; once the Lifetime is destroyed or reset, the wrapped callbacks do nothing.
class Lifetime {
public:
    Lifetime() : token_(std::make_shared<char>(0)) {}
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    // Invalidates every callback wrapped so far.
    void reset() { token_ = std::make_shared<char>(0); }

    template <class F>
    auto wrap(F fn) const {
        return [weak = std::weak_ptr<char>(token_), fn = std::move(fn)](auto&&... args) mutable {
            if (weak.lock()) fn(std::forward<decltype(args)>(args)...);
        };
    }

private:
    std::shared_ptr<char> token_;
};

}  // namespace platform
