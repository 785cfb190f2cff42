#pragma once

#include "platform/runtime/dispatch.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace platform {

// Repeating timers of one interval started at nearly the same moment (services that start one
// after another) share one tick, so the thread wakes once for all of them instead of once each.
// A timer joins a tick of its interval when that tick's next firing is at most `tolerance` of the
// interval earlier than its own first firing would be; its period stays exact, only its first
// firing may come that little early. Otherwise it starts a tick of its own.
class SharedTicks {
public:
    using RawEvery = std::function<RepeatingTimer(double interval, std::function<void()> fn)>;
    using Now = std::function<int64_t()>;  // monotonic microseconds

    static constexpr double kTolerance = 0.02;

    SharedTicks(Now now, RawEvery every, double tolerance = kTolerance);
    SharedTicks(const SharedTicks&) = delete;
    SharedTicks& operator=(const SharedTicks&) = delete;

    // Main thread only, like Scheduler::every.
    RepeatingTimer every(double interval, std::function<void()> fn);
    // Ticks running now (for tests): one per group of joined timers.
    size_t tickCount() const;

private:
    struct Member {
        std::function<void()> fn;
        bool active = true;
    };
    struct Tick {
        int64_t intervalMicros = 0;
        int64_t origin = 0;  // when it started; it fires at origin + k * interval
        RepeatingTimer timer;
        std::vector<std::shared_ptr<Member>> members;
    };

    void fire(const std::shared_ptr<Tick>& tick);
    void leave(const std::weak_ptr<Tick>& tick, const std::shared_ptr<Member>& member);

    Now now_;
    RawEvery every_;
    double tolerance_;
    std::multimap<int64_t, std::shared_ptr<Tick>> ticks_;  // by interval
    std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};

}  // namespace platform
