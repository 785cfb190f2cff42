#pragma once

#include <algorithm>
#include <chrono>

namespace platform {

// The wait before the next attempt to reach a service that is not there: it doubles with every
// failed attempt up to a ceiling, so an absent service costs a wake-up a minute, not one every
// few seconds, and a found one starts again from the first wait.
class RetryBackoff {
public:
    using Duration = std::chrono::milliseconds;

    constexpr RetryBackoff(Duration first, Duration ceiling) : first_(first), ceiling_(ceiling), next_(first) {}

    // The wait before this attempt; the one after it will be twice as long.
    Duration next() {
        const Duration wait = next_;
        next_ = std::min(next_ * 2, ceiling_);
        return wait;
    }
    void reset() { next_ = first_; }

private:
    Duration first_;
    Duration ceiling_;
    Duration next_;
};

}  // namespace platform
