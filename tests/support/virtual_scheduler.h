#pragma once

#include "platform/runtime/dispatch.h"

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// Virtual time for tests: nothing runs until advance() or drain() says so. As on the real
// scheduler, post() may come from any thread; the steps run on the thread that advances.
class VirtualScheduler final : public Scheduler {
public:
    explicit VirtualScheduler(Clock::time_point wallStart = Clock::time_point(std::chrono::seconds(1'800'000'000)));

    Clock::time_point wallNow() const override;
    int64_t monotonicMicros() const override { return nowMicros_; }
    WorkItem post(std::function<void()> fn) override;
    WorkItem after(double seconds, std::function<void()> fn) override;
    RepeatingTimer every(double interval, std::function<void()> fn) override;
    // Runs `fn` as a posted step, so background work stays deterministic.
    void global(std::function<void()> fn) override;
    // While held, global steps wait apart from the main queue: what a drain then shows is what
    // the main thread does on its own. Releasing posts the held steps in order.
    void setHoldGlobal(bool hold);
    // Posts the steps held so far and goes on holding later ones.
    void releaseHeldGlobal();
    size_t heldGlobalCount() const;

    // Moves time forward by `seconds`, running every step that falls due on the way in time
    // order (first in, first out for equal times), including steps scheduled meanwhile.
    void advance(double seconds);
    // Runs every step due now, including those they post, without moving time.
    void drain();
    // Seconds since this scheduler was created.
    double elapsed() const { return static_cast<double>(nowMicros_.load()) / 1e6; }
    // Steps scheduled and neither run nor cancelled.
    size_t pendingCount() const;
    // Steps still held in the queue, cancelled ones included (they leave only when due).
    size_t queuedCount() const;
    // Steps run so far (timers, delayed and posted steps): on the real loop each wakes the thread.
    uint64_t runCount() const { return runCount_; }

private:
    struct Entry {
        std::shared_ptr<WorkItem::State> state;
        std::function<void()> fn;
    };
    using Key = std::pair<int64_t, uint64_t>;  // (due time, sequence)

    WorkItem schedule(int64_t dueMicros, std::function<void()> fn);
    void runUntil(int64_t limitMicros);

    Clock::time_point wallStart_;
    std::atomic<int64_t> nowMicros_{0};
    std::atomic<uint64_t> runCount_{0};
    mutable std::mutex mutex_;  // guards sequence_, queue_ and the held global steps
    uint64_t sequence_ = 0;
    std::map<Key, Entry> queue_;
    bool holdGlobal_ = false;
    std::vector<std::function<void()>> heldGlobal_;
};

// The virtual main queue and clock, with the global queue on real threads: work that must stay
// off the main thread really runs elsewhere, and a step that blocks shows as a main queue that
// does not drain.
class ThreadedGlobalScheduler final : public Scheduler {
public:
    ThreadedGlobalScheduler() = default;
    explicit ThreadedGlobalScheduler(Clock::time_point wallStart) : main(wallStart) {}
    ~ThreadedGlobalScheduler() override { join(); }
    Clock::time_point wallNow() const override { return main.wallNow(); }
    int64_t monotonicMicros() const override { return main.monotonicMicros(); }
    WorkItem post(std::function<void()> fn) override { return main.post(std::move(fn)); }
    WorkItem after(double seconds, std::function<void()> fn) override { return main.after(seconds, std::move(fn)); }
    RepeatingTimer every(double interval, std::function<void()> fn) override { return main.every(interval, std::move(fn)); }
    void global(std::function<void()> fn) override {
        std::lock_guard lock(mutex_);
        threads_.emplace_back(std::move(fn));
    }
    // Waits for every global step started so far.
    void join() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (std::thread& thread : threads) thread.join();
    }
    // Drains the main queue, then joins and drains again until no work is left.
    void settle() {
        for (;;) {
            main.drain();
            {
                std::lock_guard lock(mutex_);
                if (threads_.empty()) return;
            }
            join();
        }
    }

    VirtualScheduler main;

private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

}  // namespace platform
