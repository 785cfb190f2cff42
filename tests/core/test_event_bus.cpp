#include "core/event_bus.h"
#include "core/wall_clock.h"
#include "support/fixtures.h"

#include <vector>

namespace {

class EventBusTest : public testsupport::QuillvexTest {};

TEST_F(EventBusTest, CurrentValueChannelsStartAtTheirInitialValues) {
    scheduler().advance(42);
    const QDateTime created = wallClockNow(scheduler());
    EventBus bus(scheduler());
    scheduler().advance(5);  // the stamp is the creation moment, not the moment of reading

    // A subscriber gets the hidden initial state before subscribe returns.
    std::vector<OverlayState> received;
    auto sub = bus.overlayStateSubject.sink([&](const OverlayState& s) { received.push_back(s); });
    ASSERT_EQ(received.size(), 1u);
    const OverlayState& overlay = received[0];
    EXPECT_FALSE(overlay.isVisible);
    EXPECT_EQ(overlay.mode, IslandMode::peek);
    EXPECT_EQ(overlay.count, 0);
    EXPECT_EQ(overlay.lastUpdated, created);
    EXPECT_FALSE(overlay.message || overlay.sourceHint || overlay.appIconData || overlay.bundleId);

    EXPECT_EQ(bus.notchModeSubject.value(), NotchMode::idle);
    // The notch starts unlocked and not hovered; the other channels start empty.
    EXPECT_FALSE(bus.screenLockedSubject.value());
    EXPECT_FALSE(bus.hoverStateSubject.value());
    EXPECT_FALSE(bus.nowPlayingSubject.value());
    EXPECT_TRUE(bus.calendarEventsSubject.value().isEmpty());
}

}  // namespace
