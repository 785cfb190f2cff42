#pragma once

#include "platform/runtime/dispatch.h"

#include <cstdint>
#include <deque>
#include <functional>

// Notices a transfer that has stopped moving: fewer than `minimumBytes` in the last
// `windowSeconds`, looked at a sixth of a window apart on the scheduler's clock. A slow but
// steady transfer passes; one that sends a byte now and then, or nothing, is reported once.
class StallWatch {
public:
    static constexpr int samplesPerWindow = 6;

    // Starts watching at once; `onStall` runs on the main thread, after the watch has stopped.
    StallWatch(platform::Scheduler& scheduler, double windowSeconds, int64_t minimumBytes, std::function<void()> onStall);
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;

    // The bytes received so far.
    void received(int64_t total) { total_ = total; }
    void stop() { timer_.invalidate(); }
    bool isRunning() const { return timer_.isValid(); }

private:
    void sample();

    int64_t minimumBytes_ = 0;
    int64_t total_ = 0;
    std::deque<int64_t> totals_;  // at the samples of the last window, oldest first
    std::function<void()> onStall_;
    platform::RepeatingTimer timer_;
};
