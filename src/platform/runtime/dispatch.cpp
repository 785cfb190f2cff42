#include "platform/runtime/dispatch.h"

#include "platform/runtime/qt_scheduler.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>

namespace platform {

void WorkItem::cancel() {
    if (!state_) return;
    state_->cancelled = true;
    if (state_->onCancel) state_->onCancel();
}

bool WorkItem::isPending() const { return state_ && !state_->cancelled && !state_->done; }

RepeatingTimer::RepeatingTimer(RepeatingTimer&& other) noexcept : invalidate_(std::move(other.invalidate_)) {
    other.invalidate_ = nullptr;
}

RepeatingTimer& RepeatingTimer::operator=(RepeatingTimer&& other) noexcept {
    if (this != &other) {
        invalidate();
        invalidate_ = std::move(other.invalidate_);
        other.invalidate_ = nullptr;
    }
    return *this;
}

RepeatingTimer::~RepeatingTimer() { invalidate(); }

void RepeatingTimer::invalidate() {
    if (auto fn = std::move(invalidate_)) {
        invalidate_ = nullptr;
        fn();
    }
}

namespace {
std::atomic<Scheduler*> installed{nullptr};
}

Scheduler& Scheduler::shared() {
    if (Scheduler* s = installed.load()) return *s;
    static QtScheduler main;
    return main;
}

Scheduler* Scheduler::setShared(Scheduler* scheduler) { return installed.exchange(scheduler); }

int64_t Scheduler::periodMicros(double interval) const {
    return std::max<int64_t>(1, std::llround(interval * 1e6));
}

double Scheduler::randomUniform(double lo, double hi) {
    double unit;
    if (random_) {
        unit = random_();
    } else {
        static thread_local std::mt19937_64 engine{std::random_device{}()};
        unit = std::uniform_real_distribution<double>(0.0, 1.0)(engine);
    }
    return lo + (hi - lo) * unit;
}

}  // namespace platform
