#include "platform/runtime/shared_ticks.h"

#include <algorithm>
#include <cmath>

namespace platform {

SharedTicks::SharedTicks(Now now, RawEvery every, double tolerance)
    : now_(std::move(now)), every_(std::move(every)), tolerance_(tolerance) {}

RepeatingTimer SharedTicks::every(double interval, std::function<void()> fn) {
    const int64_t intervalMicros = std::max<int64_t>(1, std::llround(interval * 1e6));
    const int64_t now = now_();
    const auto slack = static_cast<int64_t>(std::floor(static_cast<double>(intervalMicros) * tolerance_));
    auto member = std::make_shared<Member>(Member{std::move(fn)});

    std::shared_ptr<Tick> joined;
    const auto [first, last] = ticks_.equal_range(intervalMicros);
    for (auto it = first; it != last && !joined; ++it) {
        const Tick& tick = *it->second;
        // Its next firing after now, against this timer's own first one (now + interval).
        const int64_t next = tick.origin + ((now - tick.origin) / intervalMicros + 1) * intervalMicros;
        if (now + intervalMicros - next <= slack) joined = it->second;
    }
    if (!joined) {
        joined = std::make_shared<Tick>();
        joined->intervalMicros = intervalMicros;
        joined->origin = now;
        std::weak_ptr<Tick> weak = joined;
        std::weak_ptr<char> alive = alive_;
        joined->timer = every_(interval, [this, weak, alive] {
            if (alive.expired()) return;
            if (auto tick = weak.lock()) fire(tick);
        });
        ticks_.emplace(intervalMicros, joined);
    }
    joined->members.push_back(member);
    std::weak_ptr<Tick> weak = joined;
    std::weak_ptr<char> alive = alive_;
    return RepeatingTimer([this, weak, alive, member] {
        if (alive.expired()) return;
        leave(weak, member);
    });
}

void SharedTicks::fire(const std::shared_ptr<Tick>& tick) {
    // A member may leave, or another join, from inside its own call.
    const std::vector<std::shared_ptr<Member>> members = tick->members;
    for (const auto& member : members) {
        if (member->active) member->fn();
    }
}

void SharedTicks::leave(const std::weak_ptr<Tick>& weak, const std::shared_ptr<Member>& member) {
    member->active = false;
    const std::shared_ptr<Tick> tick = weak.lock();
    if (!tick) return;
    std::erase(tick->members, member);
    if (!tick->members.empty()) return;
    tick->timer.invalidate();
    const auto [first, last] = ticks_.equal_range(tick->intervalMicros);
    for (auto it = first; it != last; ++it) {
        if (it->second == tick) {
            ticks_.erase(it);
            break;
        }
    }
}

size_t SharedTicks::tickCount() const { return ticks_.size(); }

}  // namespace platform
