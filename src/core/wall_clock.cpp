#include "core/wall_clock.h"

#include <chrono>

QDateTime toDateTime(platform::Scheduler::Clock::time_point instant) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(instant.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QDateTime wallClockNow(platform::Scheduler& scheduler) { return toDateTime(scheduler.wallNow()); }
