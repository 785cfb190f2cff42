#include "core/app_settings.h"
#include "notch/notch_hover_detector.h"
#include "platform/pointer/polled_pointer_monitor.h"
#include "support/fake_pointer.h"
#include "support/fake_screens.h"
#include "support/fixtures.h"

#include <memory>
#include <vector>

namespace {

// A 1440 x 900 screen: the compact area is x 570 ... 870, y 860 ... 900; the open area is
// x 410 ... 1030, y 700 ... 900.
const QPointF kOverNotch(720, 880);
const QPointF kBelowCompact(720, 850);
const QPointF kAway(100, 400);

class NotchHoverDetectorTest : public testsupport::QuillvexTest {
protected:
    NotchHoverDetectorTest() {
        screens.screenList = {testsupport::plainScreen(0, 0, 1440, 900)};
        modeLog = bus.notchModeSubject.sink([this](const NotchMode& m) { modes.push_back(m); });
        hoverLog = bus.hoverStateSubject.sink([this](bool h) { hovers.push_back(h); });
        hideLog = bus.notchHideRequestSubject.sink(
            [this](const std::optional<EventBus::Completion>& c) { hideRequests.push_back(c.value_or(nullptr)); });
        modes.clear();
        hovers.clear();
        detector->start();
    }

    NotchMode mode() const { return bus.notchModeSubject.value(); }
    bool hovering() const { return bus.hoverStateSubject.value(); }
    void playMusic() {
        NowPlayingInfo info;
        info.title = QStringLiteral("Song");
        info.playbackRate = 1;
        bus.nowPlayingSubject.send(info);
    }
    void fileDrag(bool files = true) {
        pasteboard.sessionActive = true;
        pasteboard.hasFileUrls = files;
        pointer.buttons = platform::mouseButtonLeft;
    }

    testsupport::FakeScreens screens;
    testsupport::FakePointerMonitor pointer;
    testsupport::FakeDragPasteboard pasteboard;
    testsupport::RecordingHapticFeedback haptics;
    EventBus bus{scheduler()};
    std::unique_ptr<NotchHoverDetector> detector = std::make_unique<NotchHoverDetector>(
        bus, scheduler(), &screens, &defaults(), &pointer, &pasteboard, &haptics);
    std::vector<NotchMode> modes;
    std::vector<bool> hovers;
    std::vector<EventBus::Completion> hideRequests;
    platform::AnyCancellable modeLog, hoverLog, hideLog;
};

}  // namespace

TEST_F(NotchHoverDetectorTest, EnteringGivesOneHapticHoverAndExpandsAfterTheDwell) {
    pointer.move(kOverNotch);
    EXPECT_EQ(haptics.patterns, std::vector{platform::HapticPattern::generic});
    EXPECT_EQ(hovers, std::vector<bool>{true});
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, QStringLiteral("NotchHoverDetector: Mouse entered notch area")));
    pointer.move(kOverNotch + QPointF(5, 0));
    scheduler().advance(0.149);
    EXPECT_EQ(mode(), NotchMode::idle);
    scheduler().advance(0.002);
    EXPECT_EQ(mode(), NotchMode::expanded);
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, QStringLiteral("NotchHoverDetector: Expanded notch")));
    EXPECT_EQ(haptics.patterns.size(), 1u);

    // The open area holds the pointer while expanded.
    pointer.move(QPointF(420, 710));
    scheduler().advance(1);
    EXPECT_EQ(mode(), NotchMode::expanded);
    EXPECT_TRUE(hideRequests.empty());
}

TEST_F(NotchHoverDetectorTest, LeavingEarlyCancelsTheExpansionAndCollapsesImmediately) {
    pointer.move(kOverNotch);
    scheduler().advance(0.1);
    pointer.move(kBelowCompact);
    scheduler().advance(0.19);
    EXPECT_TRUE(hovering());
    scheduler().advance(0.02);
    EXPECT_FALSE(hovering());
    EXPECT_EQ(modes, std::vector<NotchMode>{});
    EXPECT_EQ(log.count(QStringLiteral("NotchHoverDetector: Collapsed notch (immediate)")), 1);
    EXPECT_FALSE(log.contains(QStringLiteral("NotchHoverDetector: Expanded notch")));
}

TEST_F(NotchHoverDetectorTest, EachMovementOutsideReArmsTheExitTimer) {
    pointer.move(kOverNotch);
    pointer.move(kAway);
    scheduler().advance(0.15);
    pointer.move(kAway + QPointF(1, 0));
    scheduler().advance(0.15);
    EXPECT_TRUE(hovering());
    scheduler().advance(0.06);
    EXPECT_FALSE(hovering());
}

TEST_F(NotchHoverDetectorTest, ComingBackInsideBeforeTheCollapseKeepsTheNotchOpen) {
    pointer.move(kOverNotch);
    scheduler().advance(0.2);
    ASSERT_EQ(mode(), NotchMode::expanded);
    pointer.move(kAway);
    scheduler().advance(0.1);
    pointer.move(kOverNotch);
    EXPECT_FALSE(detector->hasPendingExit());
    scheduler().advance(1);
    EXPECT_TRUE(hovering());
    EXPECT_EQ(mode(), NotchMode::expanded);
    EXPECT_TRUE(hideRequests.empty());
}

TEST_F(NotchHoverDetectorTest, CollapsingTheExpandedNotchGoesThroughTheHideRequest) {
    playMusic();
    bus.notchModeSubject.send(NotchMode::idle);
    pointer.move(kOverNotch);
    scheduler().advance(0.2);
    ASSERT_EQ(mode(), NotchMode::expanded);
    pointer.move(kAway);
    scheduler().advance(0.2);
    EXPECT_FALSE(hovering());
    ASSERT_EQ(hideRequests.size(), 1u);
    EXPECT_EQ(mode(), NotchMode::expanded) << "the mode waits for the panel";
    hideRequests[0]();
    EXPECT_EQ(mode(), NotchMode::miniPlayer);
    EXPECT_TRUE(log.contains(QStringLiteral("NotchHoverDetector: Collapsed notch to miniPlayer (after shrink)")));

    // A mode that took the notch meanwhile stays; the line is written all the same.
    bus.notchModeSubject.send(NotchMode::drop);
    hideRequests[0]();
    EXPECT_EQ(mode(), NotchMode::drop);
    EXPECT_EQ(log.count(QStringLiteral("NotchHoverDetector: Collapsed notch to miniPlayer (after shrink)")), 2);
}

TEST_F(NotchHoverDetectorTest, CollapseTargetIsMiniPlayerOnlyWhilePlayingWithTheSettingOn) {
    EXPECT_EQ(detector->determineCollapseTargetMode(), NotchMode::idle);
    playMusic();
    defaults().set(AppSettings::enableNotchFeaturesKey, false);
    EXPECT_EQ(detector->determineCollapseTargetMode(), NotchMode::miniPlayer);
    defaults().set(AppSettings::showMiniPlayerWhenPlayingKey, false);
    EXPECT_EQ(detector->determineCollapseTargetMode(), NotchMode::idle);
}

TEST_F(NotchHoverDetectorTest, NotificationHoversWithoutExpandingAndLiveActivitiesIgnoreThePointer) {
    bus.notchModeSubject.send(NotchMode::notification);
    pointer.move(kOverNotch);
    EXPECT_TRUE(hovering());
    EXPECT_EQ(haptics.patterns.size(), 1u);
    EXPECT_FALSE(detector->hasPendingHover());
    pointer.move(kAway);
    scheduler().advance(0.2);
    EXPECT_EQ(mode(), NotchMode::idle);

    haptics.patterns.clear();
    bus.notchModeSubject.send(NotchMode::liveActivity(LiveActivityType::charging));
    pointer.move(kOverNotch);
    EXPECT_FALSE(hovering());
    EXPECT_TRUE(haptics.patterns.empty());
}

TEST_F(NotchHoverDetectorTest, ALockedScreenHoldsTheCollapse) {
    pointer.move(kOverNotch);
    bus.screenLockedSubject.send(true);
    scheduler().advance(0.2);
    EXPECT_EQ(mode(), NotchMode::idle) << "no expansion while locked";
    pointer.move(kAway);
    scheduler().advance(0.3);
    EXPECT_TRUE(hovering());
    bus.screenLockedSubject.send(false);
    pointer.move(kAway + QPointF(1, 1));
    scheduler().advance(0.2);
    EXPECT_FALSE(hovering());
}

TEST_F(NotchHoverDetectorTest, AFileDragOpensTheDropZoneAtOnce) {
    fileDrag();
    pointer.move(kOverNotch);
    EXPECT_EQ(modes, std::vector<NotchMode>{NotchMode::drop});
    EXPECT_EQ(hovers, std::vector<bool>{true});
    EXPECT_TRUE(haptics.patterns.empty());
    EXPECT_TRUE(log.contains(QStringLiteral("NotchHoverDetector: Opened drop zone for file drag")));
    pointer.move(QPointF(420, 710));  // the open area counts too
    EXPECT_EQ(modes.size(), 1u);

    // Dragged away: the exit timer collapses the drop zone.
    pointer.move(kAway);
    scheduler().advance(0.2);
    EXPECT_EQ(mode(), NotchMode::idle);
    EXPECT_FALSE(hovering());
}

TEST_F(NotchHoverDetectorTest, OtherDragsAreOrdinaryMovement) {
    fileDrag(false);  // text or a web address
    pointer.move(kOverNotch);
    EXPECT_EQ(haptics.patterns.size(), 1u) << "entered like a plain pointer";
    EXPECT_TRUE(modes.empty());
    pointer.move(kAway);
    scheduler().advance(0.2);

    // A pasteboard holding files from an earlier drag counts only while a session runs.
    pasteboard.hasFileUrls = true;
    pasteboard.sessionActive = false;
    pointer.move(kOverNotch);
    scheduler().advance(0.01);
    EXPECT_TRUE(modes.empty());
    pointer.move(kAway);
    scheduler().advance(0.2);

    // Without a button held the pasteboard is not even asked.
    pasteboard.sessionActive = true;
    pointer.buttons = 0;
    const int queries = pasteboard.queries;
    pointer.move(kOverNotch);
    EXPECT_EQ(pasteboard.queries, queries);
    EXPECT_TRUE(modes.empty());
}

TEST_F(NotchHoverDetectorTest, FileDragsAreIgnoredWithDropOffOrDuringANotification) {
    fileDrag();
    defaults().set(AppSettings::enableDropKey, false);
    pointer.move(kOverNotch);
    EXPECT_TRUE(modes.empty());
    pointer.move(kAway);
    scheduler().advance(0.2);

    defaults().set(AppSettings::enableDropKey, true);
    bus.notchModeSubject.send(NotchMode::notification);
    modes.clear();
    pointer.move(kOverNotch);
    EXPECT_TRUE(modes.empty());
}

TEST_F(NotchHoverDetectorTest, AreasKeepTheirMinimumEdgesOnly) {
    EXPECT_EQ(detector->compactArea(), QRectF(570, 860, 300, 40));
    EXPECT_EQ(detector->openArea(), QRectF(410, 700, 620, 200));
    EXPECT_TRUE(NotchHoverDetector::areaContains(QRectF(570, 860, 300, 40), QPointF(570, 860)));
    EXPECT_FALSE(NotchHoverDetector::areaContains(QRectF(570, 860, 300, 40), QPointF(870, 880)));
    EXPECT_FALSE(NotchHoverDetector::areaContains(QRectF(570, 860, 300, 40), QPointF(720, 900)));
    screens.screenList.clear();
    EXPECT_TRUE(detector->compactArea().isEmpty());
    pointer.move(QPointF(0, 0));
    EXPECT_FALSE(hovering());
}

TEST_F(NotchHoverDetectorTest, StartReplacesTheMonitorsAndStopRemovesThem) {
    EXPECT_EQ(pointer.globalCount(), 1u);
    EXPECT_EQ(pointer.localCount(), 1u);
    detector->start();
    EXPECT_EQ(pointer.globalCount(), 1u);
    EXPECT_EQ(pointer.localCount(), 1u);
    EXPECT_EQ(log.count(QStringLiteral("NotchHoverDetector: Started monitoring")), 2);
    EXPECT_EQ(pasteboard.watchStarts, 2);

    // Our own panel's movements arrive through the local monitor.
    pointer.move(kOverNotch, true);
    EXPECT_TRUE(hovering());
    detector->stop();
    EXPECT_EQ(pointer.globalCount() + pointer.localCount(), 0u);
    EXPECT_FALSE(detector->hasPendingHover());
    scheduler().advance(1);
    EXPECT_EQ(mode(), NotchMode::idle);
    EXPECT_EQ(log.count(QStringLiteral("NotchHoverDetector: Stopped monitoring")), 3);
}

// The platform monitor feeding the detector: with the pointer at rest nothing is read; a motion
// onto the top pixel row (which lies over the notch) hovers at once and expands after the dwell.
TEST_F(NotchHoverDetectorTest, AMotionOntoTheTopPixelRowHovers) {
    detector->stop();
    testsupport::FakeMotionFeed feed;
    platform::PointerSample sample{QPoint(400, 400), 0};
    int samples = 0;
    platform::PolledPointerMonitor poller([&] { ++samples; return std::optional(sample); },
                                          [](const QPoint&) { return false; }, &screens, scheduler(), feed.watch());
    NotchHoverDetector polled(bus, scheduler(), &screens, &defaults(), &poller, &pasteboard, &haptics);
    polled.start();
    int events = 0;
    auto counter = poller.addGlobalMonitor([&](const platform::PointerEvent&) { ++events; });
    scheduler().advance(1);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(samples, 1);

    sample.pixel = QPoint(720, 0);
    feed.move();
    EXPECT_EQ(events, 1);
    EXPECT_TRUE(hovering());
    EXPECT_EQ(poller.mouseLocation(), QPointF(720.5, 899.5));
    scheduler().advance(0.5);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(mode(), NotchMode::expanded);

    polled.stop();
    poller.removeMonitor(*counter);
    EXPECT_FALSE(poller.isPolling());
}
