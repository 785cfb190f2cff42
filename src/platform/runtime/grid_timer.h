#pragma once

#include "platform/runtime/dispatch.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

// A repeating timer whose ticks stay on the grid of its start (start + k x interval), which its
// owner can pause while a tick could do nothing and resume when one could. A resumed timer ticks
// at the next point of the grid, so every tick that runs falls where an unpaused one would have:
// pausing only leaves out ticks, it never moves one.
class GridTimer {
public:
    GridTimer(Scheduler& scheduler, double interval, std::function<void()> tick);
    GridTimer(const GridTimer&) = delete;
    GridTimer& operator=(const GridTimer&) = delete;

    // Lays the grid from now; the first tick comes one interval later. Restarts a started timer.
    void start();
    // Forgets the grid; pause and resume do nothing until the next start.
    void stop();
    void pause();
    void resume();

    bool isStarted() const { return origin_.has_value(); }
    bool isTicking() const { return isStarted() && !paused_; }

private:
    void arm(int64_t dueMicros);

    Scheduler& scheduler_;
    const int64_t intervalMicros_;
    const double interval_;
    std::function<void()> tick_;
    std::optional<int64_t> origin_;
    bool paused_ = false;
    WorkItem first_;
    RepeatingTimer timer_;
    Lifetime lifetime_;
};

}  // namespace platform
