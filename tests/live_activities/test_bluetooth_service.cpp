#include "core/event_bus.h"
#include "live_activities/bluetooth_service.h"
#include "support/fake_bluetooth_devices.h"
#include "live_activities/live_test_helpers.h"
#include "support/fixtures.h"

#include <QRegularExpression>

#include <algorithm>

#include <string>
#include <vector>

using platform::BluetoothDevice;
using testsupport::FakeBluetoothDevices;

namespace {

const QByteArray kTwoBuds =
    "Bluetooth:\n\n      Devices:\n          AirPods Pro:\n              Address: AA:01\n"
    "              Left Battery Level: 80%\n              Right Battery Level: 75%\n";

class BluetoothServiceTest : public testsupport::QuillvexTest {
protected:
    BluetoothServiceTest() {
        subscriptions.insert(bus.bluetoothDeviceSubject.sink([this](const std::optional<BluetoothDeviceInfo>& d) {
            if (!d) return;
            std::string what = "device " + d->name.toStdString() + " " + caseName(d->category).toStdString();
            if (d->batteryLevel) what += " " + std::to_string(*d->batteryLevel);
            record(what);
        }));
        subscriptions.insert(bus.liveActivityEventSubject.sink(
            [this](const std::optional<LiveActivityType>& t) { record("event " + testsupport::requestName(t)); }));
        events.clear();
        devices.report = {kTwoBuds, {}};
    }

    void record(const std::string& what) { events.emplace_back(scheduler().elapsed(), what); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : events) out.push_back(e.second);
        return out;
    }
    void connect(const BluetoothDevice& device) {
        devices.connectionChanged(device);
        scheduler().drain();
    }

    EventBus bus{scheduler()};
    FakeBluetoothDevices devices;
    BluetoothService service{bus, scheduler(), devices};
    platform::CancellableSet subscriptions;
    std::vector<std::pair<double, std::string>> events;
};

}  // namespace

TEST_F(BluetoothServiceTest, StartTakesStockOfConnectedDevicesAndSkipsThemLater) {
    devices.paired = std::vector<BluetoothDevice>{FakeBluetoothDevices::device(QStringLiteral("Desk Speaker"), QStringLiteral("AA:02"), true),
                                                  FakeBluetoothDevices::device(QString(), QStringLiteral("AA:03"), false),
                                                  FakeBluetoothDevices::device(QStringLiteral("Keyboard"), QString(), true)};
    service.start();
    service.start();  // already running: nothing more
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug,
                             QStringLiteral("BluetoothService: Paired device: Desk Speaker, connected: true, addr: AA:02")));
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: Paired device: (no name), connected: false, addr: AA:03")));
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: Paired device: Keyboard, connected: true, addr: ")));
    EXPECT_TRUE(log.contains(platform::LogLevel::Info,
                             QStringLiteral("BluetoothService: IOBluetooth registered (connectedAddresses: [\"AA:02\"])")));
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: CoreBluetooth manager created")));
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: Started monitoring")));
    EXPECT_EQ(devices.pairedDevicesCalls(), 1);
    EXPECT_EQ(devices.connectionObservers(), 1);

    connect(FakeBluetoothDevices::device(QStringLiteral("Desk Speaker"), QStringLiteral("AA:02"), true, 4, 4));
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: [IOBluetooth] Connect callback - Desk Speaker (AA:02)")));
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug,
                             QStringLiteral("BluetoothService: [IOBluetooth] Skipped (already in connectedAddresses) - Desk Speaker")));
    scheduler().advance(2.0);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(devices.reportCalls(), 0);

    devices.powerStateChanged(platform::BluetoothPowerState::poweredOn);
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: [CoreBluetooth] State updated: 5")));

    // No paired list is logged, an empty one is not.
    service.stop();
    log.clear();
    devices.paired = std::vector<BluetoothDevice>{};
    service.start();
    EXPECT_FALSE(log.contains(QStringLiteral("BluetoothService: No paired devices found")));
    service.stop();
    devices.paired.reset();
    service.start();
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, QStringLiteral("BluetoothService: No paired devices found")));
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: IOBluetooth registered (connectedAddresses: [])")));
}

TEST_F(BluetoothServiceTest, AConnectingDeviceIsAnnouncedThenCarriesItsBatteryASecondLater) {
    service.start();
    connect(FakeBluetoothDevices::device(QStringLiteral("AirPods Pro"), QStringLiteral("AA:01"), true));
    EXPECT_EQ(names(), (std::vector<std::string>{"device AirPods Pro airpods", "event bluetooth"}));
    EXPECT_TRUE(log.contains(platform::LogLevel::Info,
                             QStringLiteral("BluetoothService: Showing activity - AirPods Pro (airpods), querying battery...")));
    EXPECT_EQ(service.connectedAddresses().count(QStringLiteral("AA:01")), 1u);

    scheduler().advance(0.999);
    EXPECT_EQ(devices.reportCalls(), 0);
    scheduler().advance(0.001);
    EXPECT_EQ(devices.reportCalls(), 1);
    EXPECT_EQ(devices.lastReportTimeout(), BluetoothService::batteryQueryTimeout);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2], std::make_pair(1.0, std::string("device AirPods Pro airpods 77")));  // no second event
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, QStringLiteral("BluetoothService: Battery for AirPods Pro: [80, 75] \u2192 avg 77%")));
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, QStringLiteral("BluetoothService: Battery updated - AirPods Pro: 77%")));
}

TEST_F(BluetoothServiceTest, OneNameIsShownAtMostOnceInFiveSecondsAndANamelessDeviceNever) {
    service.start();
    const auto buds = FakeBluetoothDevices::device(QStringLiteral("Galaxy Buds"), QStringLiteral("AA:05"), true);
    const auto budsGone = FakeBluetoothDevices::device(QStringLiteral("Galaxy Buds"), QStringLiteral("AA:05"), false);
    auto skips = [this] {
        return std::count_if(log.lines().begin(), log.lines().end(), [](const auto& l) {
            return l.text == QStringLiteral("BluetoothService: Skipped duplicate show for Galaxy Buds");
        });
    };
    auto announcements = [this] {
        const auto all = names();
        return std::count(all.begin(), all.end(), std::string("event bluetooth"));
    };
    connect(buds);
    scheduler().advance(2.0);
    devices.connectionChanged(budsGone);
    scheduler().drain();
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, QStringLiteral("BluetoothService: [IOBluetooth] Disconnected - Galaxy Buds")));
    EXPECT_TRUE(service.connectedAddresses().empty());
    connect(buds);  // 2.0 s after the announcement
    EXPECT_EQ(skips(), 1);
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, QStringLiteral("BluetoothService: Skipped duplicate show for Galaxy Buds")));

    // The skip did not move the window: 5.0 s after the announcement it shows again.
    devices.connectionChanged(budsGone);
    scheduler().advance(2.999);
    connect(buds);
    EXPECT_EQ(skips(), 2);
    EXPECT_EQ(announcements(), 1);
    devices.connectionChanged(budsGone);
    scheduler().advance(0.001);
    connect(buds);
    EXPECT_EQ(skips(), 2);
    EXPECT_EQ(announcements(), 2);

    // Another device inside the window is announced.
    connect(FakeBluetoothDevices::device(QStringLiteral("HomePod"), QStringLiteral("AA:06"), true));
    EXPECT_EQ(announcements(), 3);
    EXPECT_EQ(names().at(names().size() - 2), "device HomePod speaker");

    // Nameless: the connect path calls it "Unknown Device" and shows nothing, now or later.
    for (int i = 0; i < 2; ++i) {
        connect(FakeBluetoothDevices::device(QString(), QStringLiteral("AA:07"), true));
        devices.connectionChanged(FakeBluetoothDevices::device(QString(), QStringLiteral("AA:07"), false));
        scheduler().advance(6.0);
    }
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: [IOBluetooth] Connect callback - Unknown Device (AA:07)")));
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, QStringLiteral("BluetoothService: Skipped activity for Unknown Device")));
    EXPECT_EQ(announcements(), 3);
}

TEST_F(BluetoothServiceTest, ADeviceWithoutAddressGetsAFreshOneAtEveryConnect) {
    service.start();
    connect(FakeBluetoothDevices::device(QStringLiteral("Mouse"), QString(), true));
    scheduler().advance(6.0);
    connect(FakeBluetoothDevices::device(QStringLiteral("Mouse"), QString(), true));
    const auto all = names();
    EXPECT_EQ(std::count(all.begin(), all.end(), std::string("event bluetooth")), 2);
    EXPECT_EQ(service.connectedAddresses().size(), 2u);
}

TEST_F(BluetoothServiceTest, ASystemNoticeNamingAConnectionScansASecondLaterForOneNewDevice) {
    devices.paired = std::vector<BluetoothDevice>{FakeBluetoothDevices::device(QStringLiteral("Old"), QStringLiteral("AA:10"), true)};
    service.start();
    devices.paired->push_back(FakeBluetoothDevices::device(QString(), QStringLiteral("AA:11"), false));
    devices.paired->push_back(FakeBluetoothDevices::device(QStringLiteral("Bob's AirPods Max"), QStringLiteral("AA:12"), true));
    devices.paired->push_back(FakeBluetoothDevices::device(QStringLiteral("Speaker Two"), QStringLiteral("AA:13"), true));

    devices.postNotice(QStringLiteral("com.example.bluetooth.status"));  // no "connect": nothing more
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, QStringLiteral("BluetoothService: [DistributedNotification] com.example.bluetooth.status")));
    scheduler().advance(2.0);
    EXPECT_TRUE(events.empty());

    devices.postNotice(QStringLiteral("DeviceDisconnected"));
    EXPECT_TRUE(log.contains(platform::LogLevel::Info,
                             QStringLiteral("BluetoothService: [DistributedNotification] Connection event detected: DeviceDisconnected")));
    scheduler().advance(0.999);
    EXPECT_TRUE(events.empty());
    scheduler().advance(0.001);
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: [Scan] New connection found - Bob's AirPods Max")));
    EXPECT_EQ(names(), (std::vector<std::string>{"device Bob's AirPods Max airpodsMax", "event bluetooth"}));

    // The next notice finds the next device.
    devices.postNotice(QStringLiteral("connected"));
    scheduler().advance(1.0);
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: [Scan] New connection found - Speaker Two")));

    // A scan already scheduled when the service stops does nothing.
    devices.paired->push_back(FakeBluetoothDevices::device(QStringLiteral("Late"), QStringLiteral("AA:14"), true));
    devices.postNotice(QStringLiteral("connected"));
    service.stop();
    scheduler().advance(2.0);
    EXPECT_FALSE(log.contains(QStringLiteral("BluetoothService: [Scan] New connection found - Late")));
}

TEST_F(BluetoothServiceTest, StopDropsTheOneSubscriptionAndEndsTheBatteryStep) {
    service.start();
    for (int i = 0; i < 3; ++i) {
        connect(FakeBluetoothDevices::device(QStringLiteral("Buds ") + QString::number(i), QStringLiteral("AA:2") + QString::number(i), true));
        devices.connectionChanged(FakeBluetoothDevices::device(QStringLiteral("Buds ") + QString::number(i), QStringLiteral("AA:2") + QString::number(i), false));
    }
    EXPECT_EQ(devices.connectionObservers(), 1);  // not one more per connected device
    scheduler().advance(2.0);
    EXPECT_EQ(devices.reportCalls(), 3);

    connect(FakeBluetoothDevices::device(QStringLiteral("Late Buds"), QStringLiteral("AA:30"), true));
    events.clear();
    // A connect whose step is still queued at the stop announces nothing.
    devices.connectionChanged(FakeBluetoothDevices::device(QStringLiteral("Queued"), QStringLiteral("AA:31"), true));
    service.stop();
    service.stop();
    EXPECT_EQ(std::count_if(log.lines().begin(), log.lines().end(),
                            [](const auto& l) { return l.text == QStringLiteral("BluetoothService: Stopped monitoring"); }),
              2);
    EXPECT_EQ(devices.connectionObservers(), 0);
    EXPECT_EQ(devices.powerObservers(), 0);
    EXPECT_EQ(devices.noticeObservers(), 0);
    EXPECT_TRUE(service.connectedAddresses().empty());
    scheduler().advance(2.0);
    EXPECT_EQ(devices.reportCalls(), 3);  // the pending battery step ran nothing
    EXPECT_TRUE(events.empty());

    // A query already under way when the service stops sends nothing either.
    service.start();
    devices.onReport = [this](double) {
        service.stop();
        return platform::BluetoothBatteryReport{kTwoBuds, {}};
    };
    scheduler().advance(6.0);
    connect(FakeBluetoothDevices::device(QStringLiteral("AirPods Pro"), QStringLiteral("AA:01"), true));
    events.clear();
    scheduler().advance(2.0);
    EXPECT_EQ(devices.reportCalls(), 4);
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(log.contains(QStringLiteral("BluetoothService: Battery updated - AirPods Pro: 77%")));

    // The duplicate window survives a stop and start.
    service.start();
    connect(FakeBluetoothDevices::device(QStringLiteral("AirPods Pro"), QStringLiteral("AA:01"), true));
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: Skipped duplicate show for AirPods Pro")));
}

TEST_F(BluetoothServiceTest, AFailedOrUnreadableReportLeavesTheDeviceWithoutALevel) {
    service.start();
    devices.report = {std::nullopt, QStringLiteral("no answer from org.bluez within 5 s")};
    connect(FakeBluetoothDevices::device(QStringLiteral("AirPods Pro"), QStringLiteral("AA:01"), true));
    scheduler().advance(1.0);
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug,
                             QStringLiteral("BluetoothService: system_profiler failed: no answer from org.bluez within 5 s")));
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, QStringLiteral("BluetoothService: No battery available for AirPods Pro")));
    EXPECT_EQ(names(), (std::vector<std::string>{"device AirPods Pro airpods", "event bluetooth"}));

    // Not UTF-8.
    log.clear();
    devices.report = {kTwoBuds + QByteArray("\xff\xfe"), {}};
    scheduler().advance(5.0);
    connect(FakeBluetoothDevices::device(QStringLiteral("AirPods Pro"), QStringLiteral("AA:09"), true));
    scheduler().advance(1.0);
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: No battery available for AirPods Pro")));
}

TEST(BluetoothClassification, NamesDecideFirstThenTheClassThenMoreNames) {
    struct Case {
        const char* name;
        uint32_t major;
        uint32_t minor;
        BluetoothDeviceCategory category;
    };
    const Case cases[] = {
        {"Bob's AirPods Max", 0, 0, BluetoothDeviceCategory::airpodsMax},
        {"AirPods Pro", 0, 0, BluetoothDeviceCategory::airpods},
        {"My Apple Watch", 4, 4, BluetoothDeviceCategory::appleWatch},
        {"AIRPODS", 4, 4, BluetoothDeviceCategory::airpods},
        {"Galaxy Buds", 0, 0, BluetoothDeviceCategory::headphones},
        {"HomePod", 0, 0, BluetoothDeviceCategory::speaker},
        {"Desk", 4, 4, BluetoothDeviceCategory::speaker},
        {"Party Headphones", 4, 4, BluetoothDeviceCategory::speaker},
        {"Desk", 4, 1, BluetoothDeviceCategory::headphones},
        {"Desk", 4, 6, BluetoothDeviceCategory::headphones},
        {"Desk", 4, 5, BluetoothDeviceCategory::other},
        {"Soundbar", 4, 5, BluetoothDeviceCategory::speaker},
        {"EarPods", 5, 1, BluetoothDeviceCategory::headphones},
        {"Big Speaker", 0, 0, BluetoothDeviceCategory::speaker},
        {"Keyboard", 5, 1, BluetoothDeviceCategory::other},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BluetoothService::classifyDevice(QString::fromUtf8(c.name), c.major, c.minor), c.category)
            << c.name << " " << c.major << "/" << c.minor;
}

TEST(BluetoothReportParser, AveragesTheLevelsOfTheAskedDevicesSection) {
    testsupport::LogCapture log;
    const QString pro = QString::fromUtf8(kTwoBuds);
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(pro, QStringLiteral("airpods pro")), 77);
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: Battery for airpods pro: [80, 75] \u2192 avg 77%")));
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(pro, QStringLiteral("Other")), std::nullopt);

    const QString report = QStringLiteral(
        "Bluetooth:\n"
        "  Keyboard:\n"
        "    Battery Level: 10%\n"
        "  Quill Buds:\n"
        "    Battery Information:\n"            // not a header: the section goes on
        "    Left Battery Level: 80 %\n"        // a space before the sign: nothing
        "    Case Battery Level: 50%\n"
        "\tRight Battery Level: 70%  \n"
        "    Battery Level: 99999999999999999999%\n"  // too big for an integer: nothing
        "    Battery Level: 250%\n"             // no percentage: ignored
        "    Battery Level: level 3 then 40%\n" // the first number followed by %
        "    Firmware: 1.0\n"
        "  Mouse:\n"
        "    Battery Level: 20%\n");
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(report, QStringLiteral("QUILL BUDS")), 53);  // (50+70+40)/3
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(report, QStringLiteral("Mouse")), 20);

    // A later header with the same name starts over; lines split at "\n" only.
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(
                  QStringLiteral("Pods:\n Battery Level: 10%\nOther:\nPods:\n Battery Level: 90%\n"), QStringLiteral("pods")),
              90);
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(QStringLiteral("Pods:\r\n Battery Level: 10%\r\n"), QStringLiteral("pods")),
              std::nullopt);
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(QString(), QStringLiteral("pods")), std::nullopt);
}

// The percentage search is hand-written for speed; it must find what (\d+)% finds.
TEST(BluetoothReportParser, FindsTheSameNumberAsThePercentPattern) {
    const QRegularExpression pattern(QStringLiteral("(\\d+)%"));
    const QStringList lines = {QStringLiteral("Battery Level: 12a34%"),   QStringLiteral("Battery Level: 5% 6%"),
                               QStringLiteral("Battery Level: %7%"),      QStringLiteral("Battery Level: 0%"),
                               QStringLiteral("Battery Level: ١٢%"),      QStringLiteral("Battery Level: 1 2%"),
                               QStringLiteral("Battery Level: 100%%"),    QStringLiteral("Battery Level: 7")};
    for (const QString& line : lines) {
        const auto match = pattern.match(line);
        std::optional<int> expected;
        if (match.hasMatch()) expected = match.captured(1).toInt();
        EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(QStringLiteral("D:\n") + line, QStringLiteral("d")), expected)
            << line.toStdString();
    }
}
