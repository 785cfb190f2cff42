#include "platform/runtime/grid_timer.h"

#include <algorithm>
#include <cmath>

namespace platform {

GridTimer::GridTimer(Scheduler& scheduler, double interval, std::function<void()> tick)
    : scheduler_(scheduler),
      intervalMicros_(std::max<int64_t>(1, std::llround(interval * 1e6))),
      interval_(interval),
      tick_(std::move(tick)) {}

void GridTimer::start() {
    stop();
    origin_ = scheduler_.monotonicMicros();
    paused_ = false;
    timer_ = scheduler_.every(interval_, lifetime_.wrap([this] { tick_(); }));
}

void GridTimer::stop() {
    origin_.reset();
    paused_ = false;
    first_.cancel();
    timer_.invalidate();
    lifetime_.reset();
}

void GridTimer::pause() {
    if (!isTicking()) return;
    paused_ = true;
    first_.cancel();
    timer_.invalidate();
    lifetime_.reset();
}

void GridTimer::resume() {
    if (!isStarted() || !paused_) return;
    paused_ = false;
    const int64_t now = scheduler_.monotonicMicros();
    // The next grid point strictly after now: a tick that already ran at this point is not repeated.
    const int64_t steps = (now - *origin_) / intervalMicros_ + 1;
    arm(*origin_ + steps * intervalMicros_);
}

void GridTimer::arm(int64_t dueMicros) {
    const double delay = static_cast<double>(dueMicros - scheduler_.monotonicMicros()) / 1e6;
    first_ = scheduler_.after(delay, lifetime_.wrap([this] {
        timer_ = scheduler_.every(interval_, lifetime_.wrap([this] { tick_(); }));
        tick_();
    }));
}

}  // namespace platform
