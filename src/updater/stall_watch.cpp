#include "updater/stall_watch.h"

StallWatch::StallWatch(platform::Scheduler& scheduler, double windowSeconds, int64_t minimumBytes,
                       std::function<void()> onStall)
    : minimumBytes_(minimumBytes), totals_{0}, onStall_(std::move(onStall)) {
    timer_ = scheduler.every(windowSeconds / samplesPerWindow, [this] { sample(); });
}

void StallWatch::sample() {
    totals_.push_back(total_);
    if (totals_.size() <= samplesPerWindow) return;  // less than one window so far
    const int64_t moved = totals_.back() - totals_.front();
    totals_.pop_front();
    if (moved >= minimumBytes_) return;
    timer_.invalidate();
    if (onStall_) onStall_();
}
