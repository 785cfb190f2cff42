// The Linux power sources: the kernel's power_supply tree (a temporary copy of its layout) and
// the change notice from UPower, served by python3-dbusmock's upower template on a private
// system bus shared by the suite; and the battery service driven by that notice.

#include "core/event_bus.h"
#include "live_activities/battery_service.h"
#include "platform/power/linux_power_sources.h"
#include "support/fake_dbus_connection.h"
#include "live_activities/live_test_helpers.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <map>
#include <string>
#include <vector>

using platform::LinuxPowerSources;
using platform::PowerSourceDescription;
using testsupport::DBusMock;
using testsupport::PrivateBus;

namespace {

// A power_supply folder: one subfolder per supply with its attribute files.
class SysfsTree {
public:
    QString root() const { return dir_.path(); }
    void write(const QString& supply, const std::map<QString, QString>& attributes) {
        for (const auto& [name, value] : attributes)
            testsupport::writeFile(dir_.path() + '/' + supply + '/' + name, (value + '\n').toUtf8());
    }
    void removeSupply(const QString& supply) { QDir(dir_.path() + '/' + supply).removeRecursively(); }
    void remove(const QString& supply, const QString& attribute) {
        QFile::remove(dir_.path() + '/' + supply + '/' + attribute);
    }

private:
    QTemporaryDir dir_;
};

PowerSourceDescription described(std::optional<int> level, std::optional<bool> charging, bool onAC) {
    return PowerSourceDescription{level, charging, onAC ? platform::kACPowerState : platform::kBatteryPowerState};
}

class PowerSourcesTest : public testsupport::QuillvexTest {
protected:
    SysfsTree sysfs;
    testsupport::FakeDBusConnection noBus;
    LinuxPowerSources sources{sysfs.root(), noBus};
};

}  // namespace

TEST_F(PowerSourcesTest, TheFirstSystemBatteryAndAnyOnlineAdapterMakeTheReading) {
    EXPECT_FALSE(sources.firstPowerSource());  // no supplies at all
    sysfs.write("AC", {{"type", "Mains"}, {"online", "0"}});
    EXPECT_FALSE(sources.firstPowerSource());  // a desktop: adapters but no battery

    sysfs.write("BAT0", {{"type", "Battery"}, {"present", "1"}, {"capacity", "57"}, {"status", "Discharging"}});
    EXPECT_EQ(sources.firstPowerSource(), described(57, false, false));
    sysfs.write("BAT0", {{"status", "Charging"}});
    sysfs.write("AC", {{"online", "1"}});
    EXPECT_EQ(sources.firstPowerSource(), described(57, true, true));
    sysfs.write("BAT0", {{"status", "Full"}});
    EXPECT_EQ(sources.firstPowerSource(), described(57, false, true));

    // A USB-C charger counts as the adapter too; a second battery is not read.
    sysfs.write("AC", {{"online", "0"}});
    sysfs.write("ucsi-source-psy-1", {{"type", "USB"}, {"online", "1"}});
    sysfs.write("BAT1", {{"type", "Battery"}, {"capacity", "3"}, {"status", "Discharging"}});
    EXPECT_EQ(sources.firstPowerSource(), described(57, false, true));
    sysfs.write("ucsi-source-psy-1", {{"online", "0"}});
    sysfs.remove("BAT0", "status");
    EXPECT_EQ(sources.firstPowerSource(), described(57, std::nullopt, false));

    // A supply that goes and comes back as something else is looked at afresh.
    sysfs.removeSupply("BAT0");
    sysfs.removeSupply("BAT1");
    EXPECT_FALSE(sources.firstPowerSource());
    sysfs.removeSupply("AC");
    EXPECT_FALSE(sources.firstPowerSource());
    sysfs.write("AC", {{"type", "Battery"}, {"capacity", "41"}, {"status", "Discharging"}});
    EXPECT_EQ(sources.firstPowerSource(), described(41, false, false));
}

TEST_F(PowerSourcesTest, PeripheralsAndEmptyBaysAreNotTheMachinesBattery) {
    sysfs.write("AAA-hid-mouse-battery", {{"type", "Battery"}, {"scope", "Device"}, {"capacity", "5"}});
    sysfs.write("BAT0", {{"type", "Battery"}, {"present", "0"}});
    sysfs.write("BAT1", {{"type", "Battery"}, {"scope", "System"}, {"capacity", "88"}, {"status", "Discharging"}});
    EXPECT_EQ(sources.firstPowerSource(), described(88, false, false));
}

TEST_F(PowerSourcesTest, WithoutCapacityTheLevelComesFromEnergyOrChargeAndElseIsAbsent) {
    sysfs.write("BAT0", {{"type", "Battery"}, {"energy_now", "28500000"}, {"energy_full", "50000000"}});
    EXPECT_EQ(sources.firstPowerSource()->currentCapacity, 57);
    sysfs.remove("BAT0", "energy_now");
    sysfs.write("BAT0", {{"charge_now", "1000"}, {"charge_full", "3000"}});
    EXPECT_EQ(sources.firstPowerSource()->currentCapacity, 33);
    sysfs.write("BAT0", {{"charge_now", "3100"}});
    EXPECT_EQ(sources.firstPowerSource()->currentCapacity, 100);  // a gauge past full
    sysfs.write("BAT0", {{"charge_full", "0"}});
    EXPECT_FALSE(sources.firstPowerSource()->currentCapacity);  // an uncalibrated gauge
    sysfs.write("BAT0", {{"capacity", "garbage"}});
    EXPECT_FALSE(sources.firstPowerSource()->currentCapacity);
    sysfs.write("BAT0", {{"capacity", "0"}});
    EXPECT_EQ(sources.firstPowerSource()->currentCapacity, 0);

    noBus.setConnected(false);  // and without a bus there is no change notice
    EXPECT_FALSE(sources.createChangeNotification([] {}));
}

namespace {

const QString kUPower = QStringLiteral("org.freedesktop.UPower");
const QString kACPath = QStringLiteral("/org/freedesktop/UPower/devices/mock_ac");

class UPowerNoticeTest : public testsupport::QuillvexTest {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::dbusmockAvailable()) return;
        systemBus = PrivateBus::start(PrivateBus::Kind::system, &setUpError).release();
        if (!systemBus) return;
        upower = DBusMock::startTemplate(*systemBus, QStringLiteral("upower"), kUPower,
                                         QStringLiteral("/org/freedesktop/UPower"),
                                         R"({"OnBattery": false, "DaemonVersion": "0.99.20"})", &setUpError)
                     .release();
        if (!upower) return;
        const auto added = upower->call(QStringLiteral("AddAC"), {QStringLiteral("mock_ac"), QStringLiteral("Mock AC")});
        if (!added.ok()) setUpError = added.errorName + QStringLiteral(": ") + added.errorMessage;
        else acReady = true;
    }

    static void TearDownTestSuite() {
        delete upower;
        delete systemBus;
        upower = nullptr;
        systemBus = nullptr;
    }

    void SetUp() override {
        if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
        ASSERT_TRUE(acReady) << "the upower mock did not come up: " << setUpError.toStdString();
        sysfs.write("AC", {{"type", "Mains"}, {"online", "1"}});
        sysfs.write("BAT0", {{"type", "Battery"}, {"present", "1"}, {"capacity", "57"}, {"status", "Charging"}});
        subscriptions.insert(bus.liveActivityEventSubject.sink(
            [this](const std::optional<LiveActivityType>& t) { events.push_back(testsupport::requestName(t)); }));
    }


    bool setACOnline(bool online) {
        return upower
            ->call(QStringLiteral("SetDeviceProperties"),
                   {QVariant::fromValue(QDBusObjectPath(kACPath)), QVariantMap{{QStringLiteral("Online"), online}}})
            .ok();
    }

    static inline PrivateBus* systemBus = nullptr;
    static inline DBusMock* upower = nullptr;
    static inline bool acReady = false;
    static inline QString setUpError;

    SysfsTree sysfs;
    EventBus bus{scheduler()};
    std::vector<std::string> events;
    platform::CancellableSet subscriptions;
};

}  // namespace

TEST_F(UPowerNoticeTest, APropertyChangeOnTheBusTriggersACheckAtOnce) {
    LinuxPowerSources sources(sysfs.root(), systemBus->connection());
    BatteryService service(bus, scheduler(), sources);
    service.start();
    EXPECT_TRUE(log.contains("BatteryService: Initial state - level: 57%, pluggedIn: true, charging: true"));
    ASSERT_TRUE(log.contains("BatteryService: Registered IOKit power change callback"));

    // The adapter goes: the kernel's files first, then UPower's signal.
    sysfs.write("AC", {{"online", "0"}});
    sysfs.write("BAT0", {{"status", "Discharging"}, {"capacity", "20"}});
    ASSERT_TRUE(setACOnline(false));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return events.size() >= 2; }));
    EXPECT_EQ(events, (std::vector<std::string>{"powerDisconnect", "lowBattery"}));
    EXPECT_DOUBLE_EQ(scheduler().elapsed(), 0.0);

    // UPower's own property (OnBattery) counts as well.
    sysfs.write("AC", {{"online", "1"}});
    ASSERT_TRUE(upower->setProperty(kUPower, QStringLiteral("OnBattery"), false));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return events.size() >= 3; }));
    EXPECT_EQ(events.back(), "charging");

    // Stopped: no signal reaches it any more.
    service.stop();
    sysfs.write("AC", {{"online", "0"}});
    ASSERT_TRUE(setACOnline(true));
    ASSERT_TRUE(setACOnline(false));
    testsupport::pumpUntil(scheduler(), [] { return false; }, 300);
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(UPowerNoticeTest, WithoutUPowerOnTheBusTheTimerAloneChecks) {
    QString error;
    auto emptyBus = PrivateBus::start(PrivateBus::Kind::system, &error);
    ASSERT_TRUE(emptyBus) << error.toStdString();
    LinuxPowerSources sources(sysfs.root(), emptyBus->connection());
    BatteryService service(bus, scheduler(), sources);
    service.start();
    EXPECT_FALSE(service.hasChangeNotification());
    EXPECT_FALSE(log.contains("BatteryService: Registered IOKit power change callback"));
    sysfs.write("AC", {{"online", "0"}});
    scheduler().advance(BatteryService::checkInterval);
    EXPECT_EQ(events, (std::vector<std::string>{"powerDisconnect"}));
    service.stop();
}
