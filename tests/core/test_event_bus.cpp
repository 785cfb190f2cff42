#include "core/event_bus.h"
#include "core/wall_clock.h"
#include "support/fixtures.h"

#include <vector>

namespace {

class EventBusTest : public testsupport::QuillvexTest {};

NotificationSignal someSignal() {
    return NotificationSignal{
        .id = QUuid::createUuid(),
        .timestamp = wallClockNow(),
        .confidence = SignalConfidence::strong,
        .sourceHint = std::nullopt,
        .message = std::nullopt,
        .appIconData = std::nullopt,
        .bundleId = std::nullopt,
        .isCallAlert = false,
    };
}

TEST_F(EventBusTest, CurrentValueChannelsStartAtTheirInitialValues) {
    scheduler().advance(42);
    const QDateTime created = wallClockNow(scheduler());
    EventBus bus(scheduler());
    scheduler().advance(5);  // the stamp is the creation moment, not the moment of reading

    const OverlayState& overlay = bus.overlayStateSubject.value();
    EXPECT_FALSE(overlay.isVisible);
    EXPECT_EQ(overlay.mode, IslandMode::peek);
    EXPECT_EQ(overlay.count, 0);
    EXPECT_EQ(overlay.lastUpdated, created);
    EXPECT_FALSE(overlay.message || overlay.sourceHint || overlay.appIconData || overlay.bundleId);

    EXPECT_EQ(bus.notchModeSubject.value(), NotchMode::idle);
    EXPECT_EQ(bus.notchDisplayStateSubject.value(),
              (NotchDisplayState{.mode = NotchMode::idle, .isHovering = false, .nowPlaying = std::nullopt,
                                 .previousMode = std::nullopt}));
    EXPECT_FALSE(bus.nowPlayingSubject.value());
    EXPECT_FALSE(bus.hoverStateSubject.value());
    EXPECT_FALSE(bus.screenLockedSubject.value());
    EXPECT_FALSE(bus.batteryInfoSubject.value());
    EXPECT_FALSE(bus.bluetoothDeviceSubject.value());
    EXPECT_FALSE(bus.volumeInfoSubject.value());
    EXPECT_FALSE(bus.displayBrightnessSubject.value());
    EXPECT_FALSE(bus.keyboardBrightnessSubject.value());
    EXPECT_FALSE(bus.inputSourceSubject.value());
    EXPECT_FALSE(bus.lyricsSubject.value());
    EXPECT_FALSE(bus.weatherInfoSubject.value());
    EXPECT_TRUE(bus.calendarEventsSubject.value().isEmpty());
    EXPECT_TRUE(bus.recentAppsSubject.value().isEmpty());
    EXPECT_TRUE(bus.bluetoothDevicesSubject.value().isEmpty());
}

TEST_F(EventBusTest, SubscriberReceivesHiddenOverlayStateBeforeSubscribeReturns) {
    EventBus bus(scheduler());
    std::vector<OverlayState> received;
    auto sub = bus.overlayStateSubject.sink([&](const OverlayState& s) { received.push_back(s); });
    ASSERT_EQ(received.size(), 1u);
    EXPECT_FALSE(received[0].isVisible);
    EXPECT_EQ(received[0].mode, IslandMode::peek);
    EXPECT_EQ(received[0].count, 0);
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

TEST_F(EventBusTest, HideRequestCarriesAnOptionalCompletion) {
    EventBus bus(scheduler());
    int completions = 0;
    int requests = 0;
    auto sub = bus.notchHideRequestSubject.sink([&](const std::optional<EventBus::Completion>& done) {
        ++requests;
        if (done) (*done)();
    });
    bus.notchHideRequestSubject.send(EventBus::Completion([&] { ++completions; }));
    bus.notchHideRequestSubject.send(std::nullopt);
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(completions, 1);
}

}  // namespace
