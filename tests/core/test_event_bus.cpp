#include "core/event_bus.h"
#include "core/wall_clock.h"
#include "support/fixtures.h"

#include <vector>

namespace {

class EventBusTest : public testsupport::QuillvexTest {};

NotificationSignal someSignal() {
    return {QUuid::createUuid(), wallClockNow(), SignalConfidence::strong, {}, {}, {}, {}, false};
}

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
}

TEST_F(EventBusTest, PassThroughValuesReachOnlyThosePresent) {
    EventBus bus(scheduler());
    bus.signalSubject.send(someSignal());  // nobody listens: lost

    int signals = 0;
    auto sub = bus.signalSubject.sink([&](const NotificationSignal&) { ++signals; });
    EXPECT_EQ(signals, 0);
    bus.signalSubject.send(someSignal());
    EXPECT_EQ(signals, 1);
}

TEST_F(EventBusTest, SendingTheHeldValueStillDelivers) {
    EventBus bus(scheduler());
    std::vector<NotchMode> modes;
    auto sub = bus.notchModeSubject.sink([&](const NotchMode& m) { modes.push_back(m); });
    bus.notchModeSubject.send(NotchMode::idle);
    bus.notchModeSubject.send(NotchMode::idle);
    EXPECT_EQ(modes, (std::vector<NotchMode>{NotchMode::idle, NotchMode::idle, NotchMode::idle}));
}

TEST_F(EventBusTest, NotchWindowCombinationDropsRepeatedVisibilityButNotModes) {
    EventBus bus(scheduler());
    int emissions = 0;
    auto sub = platform::combineLatest(bus.notchModeSubject,
                                       bus.overlayStateSubject.map([](const OverlayState& s) { return s.isVisible; })
                                           .removeDuplicates())
                   .sink([&](const std::tuple<NotchMode, bool>&) { ++emissions; });
    EXPECT_EQ(emissions, 1);

    OverlayState visible = bus.overlayStateSubject.value();
    visible.isVisible = true;
    bus.overlayStateSubject.send(visible);
    EXPECT_EQ(emissions, 2);
    visible.count = 2;
    bus.overlayStateSubject.send(visible);  // still visible: no new emission
    EXPECT_EQ(emissions, 2);

    bus.notchModeSubject.send(NotchMode::idle);
    bus.notchModeSubject.send(NotchMode::idle);
    EXPECT_EQ(emissions, 4);
}

}  // namespace
