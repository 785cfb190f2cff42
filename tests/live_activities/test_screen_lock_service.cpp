#include "core/event_bus.h"
#include "live_activities/live_activity_manager.h"
#include "live_activities/screen_lock_service.h"
#include "support/fake_dynamic_library.h"
#include "support/fake_session_monitor.h"
#include "live_activities/live_test_helpers.h"
#include "support/fixtures.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

std::vector<std::vector<int64_t>> addWindowCalls;
int32_t recordAddWindows(int32_t connection, int32_t space, const SkyLightHelper::NumberArray* windows, int32_t options) {
    std::vector<int64_t> call{connection, space, options};
    call.insert(call.end(), windows->begin(), windows->end());
    addWindowCalls.push_back(call);
    return 0;
}
int32_t connectionID() { return 3; }
int32_t createSpace(int32_t, int32_t, int32_t) { return 9; }
int32_t anyOf3(int32_t, int32_t, int32_t) { return 0; }
int32_t show(int32_t, const SkyLightHelper::NumberArray*) { return 0; }

class ScreenLockServiceTest : public testsupport::QuillvexTest {
protected:
    ScreenLockServiceTest() {
        addWindowCalls.clear();
        subscriptions.insert(bus.screenLockedSubject.sink([this](bool v) { record(v ? "locked" : "unlocked"); }));
        subscriptions.insert(bus.notchModeSubject.sink([this](const NotchMode& m) { record("mode " + m.description().toStdString()); }));
        subscriptions.insert(bus.liveActivityEventSubject.sink(
            [this](const std::optional<LiveActivityType>& t) { record("event " + testsupport::requestName(t)); }));
        events.clear();
    }

    void record(const std::string& what) { events.emplace_back(scheduler().elapsed(), what); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : events) out.push_back(e.second);
        return out;
    }

    // A window server that loads and records the windows it is given.
    void makeSkyLightAvailable() {
        loader.addLibrary(SkyLightHelper::frameworkPath,
                          {{"SLSMainConnectionID", reinterpret_cast<void*>(&connectionID)},
                           {"SLSSpaceCreate", reinterpret_cast<void*>(&createSpace)},
                           {"SLSSpaceSetAbsoluteLevel", reinterpret_cast<void*>(&anyOf3)},
                           {"SLSShowSpaces", reinterpret_cast<void*>(&show)},
                           {"SLSSpaceAddWindowsAndRemoveFromSpaces", reinterpret_cast<void*>(&recordAddWindows)}});
    }

    SkyLightHelper& skyLight() {
        ++skyLightUses;
        if (!helper) helper = std::make_unique<SkyLightHelper>(loader);
        return *helper;
    }

    EventBus bus{scheduler()};
    testsupport::FakeSessionMonitor session;
    testsupport::FakeDynamicLibraryLoader loader;
    std::unique_ptr<SkyLightHelper> helper;
    int skyLightUses = 0;
    std::vector<int64_t> windows{101, 102, 103};
    ScreenLockService service{bus, scheduler(), session, [this] { return windows; }, [this]() -> SkyLightHelper& { return skyLight(); }};
    std::vector<std::pair<double, std::string>> events;
    platform::CancellableSet subscriptions;
};

}  // namespace

TEST_F(ScreenLockServiceTest, OneLockOnBothPathsActsOnceInOrderThenMovesTheWindows) {
    makeSkyLightAvailable();
    service.start();
    session.sendScreenLock(true);
    session.sendSessionActive(false);
    EXPECT_TRUE(service.isLocked());
    EXPECT_TRUE(events.empty());  // the lock step is queued, even on the main thread
    scheduler().drain();
    EXPECT_EQ(names(), (std::vector<std::string>{"locked", "mode idle", "event screenLock"}));
    EXPECT_EQ(log.count(QStringLiteral("ScreenLockService: Screen locked")), 1);

    EXPECT_EQ(skyLightUses, 0);  // created at the first move, not before
    scheduler().advance(0.099);
    EXPECT_TRUE(addWindowCalls.empty());
    scheduler().advance(0.001);
    const std::vector<std::vector<int64_t>> expected{{3, 9, 7, 101}, {3, 9, 7, 102}, {3, 9, 7, 103}};
    EXPECT_EQ(addWindowCalls, expected);
    for (const char* line : {"SkyLightHelper: Moved window 101 to lock screen space",
                             "SkyLightHelper: Moved window 102 to lock screen space",
                             "SkyLightHelper: Moved window 103 to lock screen space"})
        EXPECT_EQ(log.count(QString::fromLatin1(line)), 1);
}

TEST_F(ScreenLockServiceTest, UnlockSendsTheUnlockAtOnceAndTheEndStepLater) {
    service.start();
    session.sendScreenLock(true);
    scheduler().advance(5.0);
    events.clear();

    session.sendSessionActive(true);
    session.sendScreenLock(false);  // the second path is a duplicate
    EXPECT_EQ(names(), (std::vector<std::string>{"event screenUnlock"}));
    EXPECT_EQ(log.count(QStringLiteral("ScreenLockService: Screen unlocked")), 1);
    scheduler().advance(1.499);
    EXPECT_EQ(events.size(), 1u);
    scheduler().advance(0.001);
    EXPECT_EQ(names(), (std::vector<std::string>{"event screenUnlock", "event none", "unlocked"}));
    EXPECT_DOUBLE_EQ(events.back().first, 6.5);
}

TEST_F(ScreenLockServiceTest, WithoutTheLockScreenSpaceNothingMovesAndNothingIsLogged) {
    service.start();
    session.sendScreenLock(true);
    scheduler().advance(1.0);
    EXPECT_EQ(skyLightUses, 3);
    EXPECT_TRUE(addWindowCalls.empty());
    EXPECT_TRUE(log.matching(QStringLiteral("SkyLightHelper: Moved")).isEmpty());
    EXPECT_EQ(log.count(QStringLiteral("SkyLightHelper: Failed to load SkyLight framework")), 1);

    // No windows: no helper.
    windows.clear();
    session.sendScreenLock(false);
    scheduler().advance(2.0);
    session.sendScreenLock(true);
    scheduler().advance(1.0);
    EXPECT_EQ(skyLightUses, 3);
}

TEST_F(ScreenLockServiceTest, SignalsOutsideARunAndUnlocksWithoutALockDoNothing) {
    session.sendScreenLock(true);  // not started: nothing observes
    service.distributedLock();     // entry point while stopped
    service.start();
    session.sendScreenLock(false);
    scheduler().advance(2.0);
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(service.isLocked());
}

TEST_F(ScreenLockServiceTest, StopAlwaysLogsAndKeepsTheLockedFlagAcrossARestart) {
    service.stop();
    EXPECT_EQ(log.count(QStringLiteral("ScreenLockService: Stopped")), 1);
    service.start();
    service.start();
    EXPECT_EQ(log.count(QStringLiteral("ScreenLockService: Started")), 1);
    EXPECT_EQ(session.observerCount(), 2);
    session.sendScreenLock(true);
    scheduler().drain();
    service.stop();
    service.stop();
    EXPECT_EQ(log.count(QStringLiteral("ScreenLockService: Stopped")), 3);
    EXPECT_EQ(session.observerCount(), 0);
    EXPECT_TRUE(service.isLocked());

    service.start();
    events.clear();
    session.sendScreenLock(true);  // still locked from before: ignored
    scheduler().drain();
    EXPECT_TRUE(events.empty());
    session.sendScreenLock(false);
    EXPECT_EQ(names(), (std::vector<std::string>{"event screenUnlock"}));
}

// The unlock's end step, left pending, would report "unlocked" and end the activity while the
// screen is locked again.
TEST_F(ScreenLockServiceTest, ALockWithinTheUnlockDelayCancelsTheUnlockStep) {
    LiveActivityManager manager(bus, scheduler(), &defaults());
    manager.start();
    service.start();
    session.sendScreenLock(true);
    scheduler().advance(5.0);
    session.sendScreenLock(false);
    scheduler().advance(0.5);
    session.sendScreenLock(true);
    scheduler().advance(10.0);

    EXPECT_TRUE(bus.screenLockedSubject.value());
    const auto seen = names();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "unlocked"), 0);
    // A fresh lock activity with no timer, not a refreshed one that leaves after 3 s.
    EXPECT_EQ(bus.notchModeSubject.value(), NotchMode::liveActivity(LiveActivityType::screenLock));
    EXPECT_EQ(log.count(QStringLiteral("LiveActivityManager: Showing screenLock activity (persistent until unlock)")), 2);
    EXPECT_FALSE(log.contains(QStringLiteral("LiveActivityManager: Refreshing screenLock activity timer (3.0s)")));

    session.sendScreenLock(false);
    scheduler().advance(1.5);
    EXPECT_FALSE(bus.screenLockedSubject.value());
    scheduler().advance(0.3);
    EXPECT_EQ(bus.notchModeSubject.value(), NotchMode::idle);
}
