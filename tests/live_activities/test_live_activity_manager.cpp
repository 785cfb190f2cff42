#include "core/app_settings.h"
#include "core/event_bus.h"
#include "live_activities/live_activity_manager.h"
#include "support/fixtures.h"

#include <memory>
#include <utility>
#include <vector>

namespace {

class LiveActivityManagerTest : public testsupport::QuillvexTest {
protected:
    LiveActivityManagerTest() {
        modeLog = bus.notchModeSubject.sink([this](const NotchMode& m) { modes.emplace_back(scheduler().elapsed(), m); });
        dismissLog = bus.liveActivityDismissSubject.sink([this] { dismissAt.push_back(scheduler().elapsed()); });
        modes.clear();
        manager->start();
    }

    EventBus bus{scheduler()};
    std::unique_ptr<LiveActivityManager> manager = std::make_unique<LiveActivityManager>(bus, scheduler(), &defaults());
    std::vector<std::pair<double, NotchMode>> modes;
    std::vector<double> dismissAt;
    platform::AnyCancellable modeLog;
    platform::AnyCancellable dismissLog;

    NotchMode mode() const { return bus.notchModeSubject.value(); }
    // Requests arrive on the main run loop: the send is followed by the hop.
    void request(std::optional<LiveActivityType> type) {
        bus.liveActivityEventSubject.send(type);
        scheduler().drain();
    }
    void advanceTo(double t) { scheduler().advance(t - scheduler().elapsed()); }
    static NotchMode la(LiveActivityType t) { return NotchMode::liveActivity(t); }
};

}  // namespace

// Requests at 0, 1 and 2 s: the mode is sent once, the timer restarts, the exit plays at 5 s and
// the saved mode comes back at 5.3 s.
TEST_F(LiveActivityManagerTest, RepeatsRestartTheTimerThenTheSavedModeIsHandedBack) {
    bus.notchModeSubject.send(NotchMode::miniPlayer);
    modes.clear();
    request(LiveActivityType::volume);
    EXPECT_EQ(mode(), la(LiveActivityType::volume));
    EXPECT_TRUE(log.contains(QStringLiteral("LiveActivityManager: Showing volume activity for 3.0s")));
    for (double t : {1.0, 2.0}) {
        advanceTo(t);
        request(LiveActivityType::volume);
    }
    EXPECT_EQ(modes.size(), 1u);
    EXPECT_EQ(log.count(QStringLiteral("LiveActivityManager: Refreshing volume activity timer (3.0s)")), 2);
    advanceTo(4.999);
    EXPECT_TRUE(dismissAt.empty());
    advanceTo(5.0);
    EXPECT_EQ(dismissAt, std::vector<double>{5.0});
    advanceTo(5.299);
    EXPECT_EQ(mode(), la(LiveActivityType::volume));  // the view plays its exit first
    advanceTo(5.3);
    EXPECT_EQ(mode(), NotchMode::miniPlayer);
    EXPECT_TRUE(log.contains(QStringLiteral("LiveActivityManager: Returned to miniPlayer")));
}

TEST_F(LiveActivityManagerTest, AnotherTypeReplacesAtOnceAndTheChainReturnsToTheFirstMode) {
    bus.notchModeSubject.send(NotchMode::expanded);
    request(LiveActivityType::volume);
    advanceTo(1.0);
    request(LiveActivityType::inputSource);
    EXPECT_EQ(mode(), la(LiveActivityType::inputSource));
    EXPECT_TRUE(log.contains(QStringLiteral("LiveActivityManager: Showing inputSource activity for 2.5s")));
    advanceTo(3.49);
    EXPECT_TRUE(dismissAt.empty());  // the volume timer was cancelled
    advanceTo(3.8);
    EXPECT_EQ(mode(), NotchMode::expanded);
}

// Neither playing music nor an activity mode left by a stopped run becomes the return target, and a
// disabled type never changes the notch.
TEST_F(LiveActivityManagerTest, TheReturnTargetIsTheSavedNonActivityMode) {
    defaults().set(QStringLiteral("liveActivity_bluetooth"), false);
    request(LiveActivityType::bluetooth);
    EXPECT_TRUE(modes.empty());

    bus.notchModeSubject.send(la(LiveActivityType::volume));  // left by a stopped run
    request(LiveActivityType::airdrop);
    advanceTo(4.3);
    EXPECT_EQ(mode(), NotchMode::idle);

    NowPlayingInfo info;
    info.playbackRate = 1.0;
    bus.nowPlayingSubject.send(info);
    request(LiveActivityType::charging);
    advanceTo(8.6);
    EXPECT_EQ(mode(), NotchMode::idle);  // the saved mode, not the music
}

TEST_F(LiveActivityManagerTest, ScreenLockStaysUntilAnEndRequestAndGetsATimerOnRepeat) {
    request(LiveActivityType::screenLock);
    EXPECT_TRUE(log.contains(QStringLiteral("LiveActivityManager: Showing screenLock activity (persistent until unlock)")));
    advanceTo(60.0);
    EXPECT_EQ(mode(), la(LiveActivityType::screenLock));

    bus.screenLockedSubject.send(true);
    request(LiveActivityType::charging);  // dropped while locked
    request(LiveActivityType::screenUnlock);  // always dropped
    EXPECT_EQ(mode(), la(LiveActivityType::screenLock));

    request(LiveActivityType::screenLock);
    EXPECT_TRUE(log.contains(QStringLiteral("LiveActivityManager: Refreshing screenLock activity timer (3.0s)")));
    advanceTo(63.0);
    EXPECT_EQ(dismissAt.size(), 1u);

    bus.screenLockedSubject.send(false);
    advanceTo(70.0);
    request(LiveActivityType::screenLock);
    request(std::nullopt);
    EXPECT_EQ(dismissAt.size(), 2u);
    request(std::nullopt);  // nothing current: nothing sent
    EXPECT_EQ(dismissAt.size(), 2u);
}

TEST_F(LiveActivityManagerTest, ANewTypeDuringTheHandBackReturnsWhereThatHandBackWasGoing) {
    bus.notchModeSubject.send(NotchMode::miniPlayer);
    request(LiveActivityType::volume);
    advanceTo(3.1);  // exit played, hand-back pending
    request(LiveActivityType::screenshot);
    advanceTo(3.5);
    EXPECT_EQ(mode(), la(LiveActivityType::screenshot));  // the stale hand-back did not run
    advanceTo(6.4);
    EXPECT_EQ(mode(), NotchMode::miniPlayer);
}

TEST_F(LiveActivityManagerTest, StopIgnoresRequestsAndLeavesTheModeUntilStartedAgain) {
    request(LiveActivityType::volume);
    manager->stop();
    EXPECT_TRUE(log.contains(QStringLiteral("LiveActivityManager: Stopped")));
    advanceTo(10.0);
    EXPECT_EQ(mode(), la(LiveActivityType::volume));
    EXPECT_TRUE(dismissAt.empty());
    request(LiveActivityType::charging);
    EXPECT_EQ(mode(), la(LiveActivityType::volume));
    manager->start();
    manager->start();  // a second start must not deliver requests twice
    request(LiveActivityType::charging);
    EXPECT_EQ(mode(), la(LiveActivityType::charging));
    request(LiveActivityType::charging);
    EXPECT_EQ(log.count(QStringLiteral("LiveActivityManager: Refreshing charging activity timer (4.0s)")), 1);
}

// A burst of requests must not leave a cancelled timer per request behind in the scheduler.
TEST_F(LiveActivityManagerTest, ABurstOfRequestsKeepsOneTimer) {
    for (int i = 0; i < 200; ++i) request(i % 2 ? LiveActivityType::volume : LiveActivityType::displayBrightness);
    EXPECT_EQ(scheduler().pendingCount(), 1u);
    EXPECT_LE(scheduler().queuedCount(), 2u);
    request(LiveActivityType::inputSource);  // ends sooner than the timer held: that one goes
    advanceTo(2.5);
    EXPECT_EQ(dismissAt.size(), 1u);
    EXPECT_EQ(mode(), la(LiveActivityType::inputSource));
    advanceTo(2.8);
    EXPECT_EQ(mode(), NotchMode::idle);
    EXPECT_EQ(scheduler().pendingCount(), 0u);
}
