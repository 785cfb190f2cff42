#include "support/virtual_scheduler.h"

#include <cmath>

namespace platform {

namespace {
int64_t toMicros(double seconds) {
    if (!(seconds > 0)) return 0;
    return static_cast<int64_t>(std::llround(seconds * 1e6));
}
}  // namespace

VirtualScheduler::VirtualScheduler(Clock::time_point wallStart) : wallStart_(wallStart) {}

Scheduler::Clock::time_point VirtualScheduler::wallNow() const {
    return wallStart_ + std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(nowMicros_));
}

WorkItem VirtualScheduler::schedule(int64_t dueMicros, std::function<void()> fn) {
    auto state = std::make_shared<WorkItem::State>();
    std::lock_guard lock(mutex_);
    queue_.emplace(Key{dueMicros, sequence_++}, Entry{state, std::move(fn)});
    return WorkItem(state);
}

WorkItem VirtualScheduler::post(std::function<void()> fn) { return schedule(nowMicros_, std::move(fn)); }

WorkItem VirtualScheduler::after(double seconds, std::function<void()> fn) {
    return schedule(nowMicros_ + toMicros(seconds), std::move(fn));
}

RepeatingTimer VirtualScheduler::every(double interval, std::function<void()> fn) {
    struct Tick {
        VirtualScheduler* scheduler;
        int64_t intervalMicros;
        std::function<void()> fn;
        WorkItem next;
        bool valid = true;
        void arm(const std::shared_ptr<Tick>& self) {
            std::weak_ptr<Tick> weak = self;
            next = scheduler->schedule(scheduler->nowMicros_ + intervalMicros, [weak] {
                auto tick = weak.lock();
                if (!tick || !tick->valid) return;
                tick->arm(tick);  // re-arm first so the callback may invalidate
                tick->fn();       // `tick` keeps fn alive even if the handle dies meanwhile
            });
        }
    };
    auto tick = std::make_shared<Tick>(Tick{this, std::max<int64_t>(toMicros(interval), 1), std::move(fn), {}});
    tick->arm(tick);
    return RepeatingTimer([tick] {
        tick->valid = false;
        tick->next.cancel();
    });
}

void VirtualScheduler::global(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        if (holdGlobal_) {
            heldGlobal_.push_back(std::move(fn));
            return;
        }
    }
    post(std::move(fn));
}

void VirtualScheduler::setHoldGlobal(bool hold) {
    std::vector<std::function<void()>> released;
    {
        std::lock_guard lock(mutex_);
        holdGlobal_ = hold;
        if (!hold) released.swap(heldGlobal_);
    }
    for (auto& fn : released) post(std::move(fn));
}

void VirtualScheduler::releaseHeldGlobal() {
    std::vector<std::function<void()>> released;
    {
        std::lock_guard lock(mutex_);
        released.swap(heldGlobal_);
    }
    for (auto& fn : released) post(std::move(fn));
}

size_t VirtualScheduler::heldGlobalCount() const {
    std::lock_guard lock(mutex_);
    return heldGlobal_.size();
}

void VirtualScheduler::runUntil(int64_t limitMicros) {
    for (;;) {
        Entry entry;
        {
            std::lock_guard lock(mutex_);
            auto it = queue_.begin();
            if (it == queue_.end() || it->first.first > limitMicros) return;
            if (it->first.first > nowMicros_) nowMicros_ = it->first.first;
            entry = std::move(it->second);
            queue_.erase(it);
        }
        if (entry.state->cancelled) continue;
        ++runCount_;
        entry.state->done = true;
        entry.fn();  // unlocked: a step may schedule more
    }
}

void VirtualScheduler::advance(double seconds) {
    const int64_t target = nowMicros_ + toMicros(seconds);
    runUntil(target);
    // A step may itself have advanced further; time never runs backwards.
    if (nowMicros_ < target) nowMicros_ = target;
}

void VirtualScheduler::drain() { runUntil(nowMicros_); }

size_t VirtualScheduler::pendingCount() const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const auto& [key, entry] : queue_) count += entry.state->cancelled ? 0 : 1;
    return count;
}

size_t VirtualScheduler::queuedCount() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace platform
