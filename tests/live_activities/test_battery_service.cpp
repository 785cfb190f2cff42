// The battery service against scripted power sources, on virtual time.

#include "core/event_bus.h"
#include "live_activities/battery_service.h"
#include "support/fake_power_sources.h"
#include "live_activities/live_test_helpers.h"
#include "support/fixtures.h"

#include <string>
#include <vector>

using platform::LogLevel;

namespace {

class BatteryServiceTest : public testsupport::QuillvexTest {
protected:
    BatteryServiceTest() {
        subscriptions.insert(bus.liveActivityEventSubject.sink(
            [this](const std::optional<LiveActivityType>& t) { events.push_back(testsupport::requestName(t)); }));
        subscriptions.insert(bus.batteryInfoSubject.sink([this](const std::optional<BatteryInfo>& info) {
            if (info) infos.push_back(*info);
            else ++nilInfos;
        }));
        infos.clear();
        nilInfos = 0;
    }

    // The next 5-second check reads `level`.
    void tick(int level, bool pluggedIn = false, bool charging = false) {
        power.setBattery(level, pluggedIn, charging);
        scheduler().advance(BatteryService::checkInterval);
    }

    using Events = std::vector<std::string>;

    EventBus bus{scheduler()};
    testsupport::FakePowerSources power;
    BatteryService service{bus, scheduler(), power};
    Events events;
    std::vector<BatteryInfo> infos;
    int nilInfos = 0;
    platform::CancellableSet subscriptions;
};

}  // namespace

TEST_F(BatteryServiceTest, AStartOnBatteryPublishesTheStateAndMarksTheThresholdsAlreadyPassed) {
    power.setBattery(15, false);
    service.start();
    EXPECT_TRUE(log.contains(LogLevel::Info, "BatteryService: Initial state - level: 15%, pluggedIn: false, charging: false"));
    EXPECT_TRUE(log.contains(LogLevel::Info, "BatteryService: Registered IOKit power change callback"));
    EXPECT_TRUE(log.contains(LogLevel::Info, "BatteryService: Started monitoring"));
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0], (BatteryInfo{15, false, false}));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(service.notifiedThresholds(), (std::set<int>{20}));

    tick(12);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(infos.size(), 2u);  // every check publishes
    tick(10);
    EXPECT_EQ(events, (Events{"lowBattery"}));
    EXPECT_TRUE(log.contains(LogLevel::Info, "BatteryService: Low battery warning at 10% (threshold: 10%)"));
    tick(10);
    tick(9);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(infos.size(), 5u);

    // A second start while running changes nothing.
    log.clear();
    service.start();
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(BatteryServiceTest, AStartAtTenMarksTwentyAndTenAndAStartAtFullMarksNothing) {
    power.setBattery(10, false);
    service.start();
    EXPECT_EQ(service.notifiedThresholds(), (std::set<int>{20, 10}));
    // Back up to 20 is not yet a new discharge: falling to 10 again stays quiet.
    tick(20);
    tick(10);
    EXPECT_TRUE(events.empty());
    service.stop();
    BatteryService full(bus, scheduler(), power);
    power.setBattery(100, false, false);
    full.start();
    EXPECT_TRUE(full.notifiedThresholds().empty());
    EXPECT_EQ(full.previousLevel(), 100);
}

TEST_F(BatteryServiceTest, PlugAndUnplugAnnounceTheAdapterWhateverTheCharge) {
    power.setBattery(80, true, true);
    service.start();
    EXPECT_TRUE(log.contains("BatteryService: Initial state - level: 80%, pluggedIn: true, charging: true"));
    EXPECT_TRUE(events.empty());  // no charging at start
    tick(80, true, true);
    EXPECT_TRUE(events.empty());

    tick(79);
    EXPECT_EQ(events, (Events{"powerDisconnect"}));
    EXPECT_TRUE(log.contains(LogLevel::Info, "BatteryService: Power adapter disconnected (level: 79%)"));
    tick(78);
    EXPECT_EQ(events.size(), 1u);

    // A full battery that does not charge still shows the adapter.
    tick(100, true, false);
    EXPECT_EQ(events, (Events{"powerDisconnect", "charging"}));
    EXPECT_TRUE(log.contains(LogLevel::Info, "BatteryService: Power adapter connected (level: 100%, charging: false)"));
    tick(100, true, false);
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(BatteryServiceTest, ABigFallAnnouncesOnlyTheHighestThresholdItCrossed) {
    power.setBattery(25, false);
    service.start();
    tick(8);
    EXPECT_EQ(events, (Events{"lowBattery"}));
    EXPECT_EQ(log.matching("BatteryService: Low battery warning"),
              QStringList{"BatteryService: Low battery warning at 8% (threshold: 20%)"});
    // 10 was jumped over: it comes only after the level climbs above it and falls back.
    tick(9);
    tick(11);
    EXPECT_EQ(events.size(), 1u);
    tick(10);
    EXPECT_EQ(events.size(), 2u);
    EXPECT_TRUE(log.contains("BatteryService: Low battery warning at 10% (threshold: 10%)"));
    tick(5);
    EXPECT_EQ(events.size(), 3u);
    EXPECT_TRUE(log.contains("BatteryService: Low battery warning at 5% (threshold: 5%)"));
    tick(0);
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(BatteryServiceTest, BouncingBetweenTwentyOneAndTwentyAnnouncesTwentyEachTime) {
    power.setBattery(21, false);
    service.start();
    for (int round = 0; round < 3; ++round) {
        tick(20);
        tick(21);
    }
    EXPECT_EQ(events, (Events{"lowBattery", "lowBattery", "lowBattery"}));
    EXPECT_EQ(log.count("BatteryService: Low battery warning at 20% (threshold: 20%)"), 3);
    EXPECT_TRUE(service.notifiedThresholds().empty());  // 21 rearms
}

TEST_F(BatteryServiceTest, AnUnplugThatAlsoCrossesAThresholdSendsBothInOneCheck) {
    power.setBattery(21, true, true);
    service.start();
    tick(20);
    EXPECT_EQ(events, (Events{"powerDisconnect", "lowBattery"}));
    const QStringList lines = log.matching("BatteryService: ");
    const auto disconnected = lines.indexOf("BatteryService: Power adapter disconnected (level: 20%)");
    const auto warning = lines.indexOf("BatteryService: Low battery warning at 20% (threshold: 20%)");
    ASSERT_GE(disconnected, 0);
    EXPECT_GT(warning, disconnected);
}

TEST_F(BatteryServiceTest, WhileConnectedEveryCheckStartsAFreshDischarge) {
    power.setBattery(15, false);
    service.start();
    tick(15, true, true);
    EXPECT_TRUE(service.notifiedThresholds().empty());
    // Unplugged at 15 after charging there: 20 was crossed while connected, so nothing yet.
    tick(15);
    EXPECT_EQ(events, (Events{"charging", "powerDisconnect"}));
    tick(10);
    EXPECT_EQ(events, (Events{"charging", "powerDisconnect", "lowBattery"}));

    // A charger too weak for the load: the level fell across 20 while connected, so the unplug at 18
    // counts from the last connected reading and announces nothing at once.
    tick(25);
    tick(25, true, true);
    tick(18, true, false);
    tick(18);
    EXPECT_EQ(events, (Events{"charging", "powerDisconnect", "lowBattery", "charging", "powerDisconnect"}));
}

TEST_F(BatteryServiceTest, WithoutABatteryNothingIsEverSent) {
    service.start();
    EXPECT_TRUE(log.contains(LogLevel::Warning, "BatteryService: No battery detected"));
    EXPECT_FALSE(log.contains("BatteryService: Initial state - level: 100%, pluggedIn: false, charging: false"));
    EXPECT_EQ(service.previousLevel(), 100);
    EXPECT_FALSE(service.previouslyPluggedIn());
    scheduler().advance(20);
    power.sendChange();
    scheduler().drain();
    EXPECT_TRUE(infos.empty());
    EXPECT_EQ(nilInfos, 0);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(log.count("BatteryService: fetchBatteryInfo returned nil"), 5);
    EXPECT_FALSE(bus.batteryInfoSubject.value().has_value());
}

TEST_F(BatteryServiceTest, AReadingWithoutALevelIsSkippedNotCountedAsEmpty) {
    power.setBattery(50, false);
    service.start();
    power.source->currentCapacity.reset();
    scheduler().advance(BatteryService::checkInterval);
    EXPECT_TRUE(events.empty());  // 0 % would have announced 20
    EXPECT_EQ(infos.size(), 1u);
    EXPECT_EQ(service.previousLevel(), 50);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "BatteryService: fetchBatteryInfo returned nil"));

    // At start it is no battery, and no zero is published.
    BatteryService second(bus, scheduler(), power);
    second.start();
    EXPECT_EQ(log.count("BatteryService: No battery detected"), 1);
    EXPECT_EQ(infos.size(), 1u);
}

TEST_F(BatteryServiceTest, TheChangeNoticeQueuesACheckOnTheMainQueue) {
    power.setBattery(60, true, true);
    service.start();
    EXPECT_EQ(power.observerCount(), 1);
    power.setBattery(60, false);
    power.sendChange();
    EXPECT_TRUE(events.empty());  // not inside the notice
    scheduler().drain();
    EXPECT_EQ(events, (Events{"powerDisconnect"}));
    EXPECT_DOUBLE_EQ(scheduler().elapsed(), 0.0);
}

TEST_F(BatteryServiceTest, ACheckQueuedBeforeStopDoesNothingAfterIt) {
    power.setBattery(60, true, true);
    service.start();
    power.setBattery(60, false);
    power.sendChange();
    service.stop();
    scheduler().drain();
    scheduler().advance(30);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(infos.size(), 1u);
    EXPECT_EQ(power.observerCount(), 0);

    // Nor after a restart that follows at once.
    power.setBattery(60, true, true);
    service.start();
    power.setBattery(60, false);
    power.sendChange();
    service.stop();
    service.start();
    scheduler().drain();
    EXPECT_TRUE(events.empty());
}

TEST_F(BatteryServiceTest, WithoutTheNoticeTheTimerAloneDrivesTheChecks) {
    power.notificationAvailable = false;
    power.setBattery(40, true);
    service.start();
    EXPECT_FALSE(service.hasChangeNotification());
    EXPECT_FALSE(log.contains("BatteryService: Registered IOKit power change callback"));
    EXPECT_TRUE(log.contains("BatteryService: Started monitoring"));
    power.setBattery(40, false);
    scheduler().advance(4.999);
    EXPECT_TRUE(events.empty());
    scheduler().advance(0.001);
    EXPECT_EQ(events, (Events{"powerDisconnect"}));
}

TEST_F(BatteryServiceTest, StopAlwaysRunsAndLogsAndTheStateSurvivesIt) {
    service.stop();
    service.stop();
    EXPECT_EQ(log.count("BatteryService: Stopped monitoring"), 2);

    power.setBattery(15, false);
    service.start();
    const int reads = power.readCount;
    service.stop();
    scheduler().advance(30);
    EXPECT_EQ(power.readCount, reads);  // the timer is gone
    EXPECT_FALSE(service.isRunning());
    EXPECT_EQ(service.notifiedThresholds(), (std::set<int>{20}));

    // The next start adds to the set instead of emptying it.
    power.setBattery(30, false);
    service.start();
    EXPECT_EQ(service.notifiedThresholds(), (std::set<int>{20}));
    EXPECT_EQ(service.previousLevel(), 30);
    tick(20);
    EXPECT_TRUE(events.empty());  // 20 still counts as announced
}
