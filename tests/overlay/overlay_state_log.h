#pragma once

#include "core/event_bus.h"
#include "support/virtual_scheduler.h"

#include <gtest/gtest.h>

#include <vector>

namespace overlaytest {

// Every overlay state published on a bus after the log was made (the value current at
// subscription is left out).
class OverlayStateLog {
public:
    explicit OverlayStateLog(EventBus& bus)
        : subscription_(bus.overlayStateSubject.sink([this](const OverlayState& s) { states.push_back(s); })) {
        states.clear();
    }

    // Advances `seconds` and expects exactly one new state, published at that moment and not a
    // millisecond earlier. nullptr when none came.
    const OverlayState* nextAfter(platform::VirtualScheduler& clock, double seconds) {
        const size_t before = states.size();
        clock.advance(seconds - 0.001);
        EXPECT_EQ(states.size(), before) << "published early";
        clock.advance(0.001);
        EXPECT_EQ(states.size(), before + 1);
        return states.size() == before + 1 ? &states.back() : nullptr;
    }

    std::vector<OverlayState> states;

private:
    platform::AnyCancellable subscription_;
};

}  // namespace overlaytest
