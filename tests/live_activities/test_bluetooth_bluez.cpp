// The Bluetooth service against BlueZ's D-Bus interface, served by python3-dbusmock's bluez5
// template on a private system bus (shared by the suite).

#include "core/event_bus.h"
#include "live_activities/bluetooth_service.h"
#include "platform/bluetooth/bluez_bluetooth_devices.h"
#include "live_activities/live_test_helpers.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>

#include <memory>

using platform::BlueZBluetoothDevices;
using testsupport::DBusMock;
using testsupport::PrivateBus;

namespace {

const QString kDevice = QStringLiteral("org.bluez.Device1");

class BluetoothBlueZTest : public testsupport::QuillvexTest {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::dbusmockAvailable()) return;
        systemBus = PrivateBus::start(PrivateBus::Kind::system, &setUpError).release();
        if (!systemBus) return;
        bluez = DBusMock::startTemplate(*systemBus, QStringLiteral("bluez5"), QStringLiteral("org.bluez"),
                                        QStringLiteral("/"), {}, &setUpError)
                    .release();
        if (!bluez) return;
        const auto adapter = bluez->call(QStringLiteral("AddAdapter"), {QStringLiteral("hci0"), QStringLiteral("quill-host")},
                                         QStringLiteral("org.bluez.Mock"), QStringLiteral("/org/bluez"));
        if (!adapter.ok()) setUpError = adapter.errorName + QStringLiteral(": ") + adapter.errorMessage;
        else ready = true;
    }
    static void TearDownTestSuite() {
        delete bluez;
        delete systemBus;
        bluez = nullptr;
        systemBus = nullptr;
    }
    void SetUp() override {
        if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
        ASSERT_TRUE(ready) << "the bluez5 mock did not come up: " << setUpError.toStdString();
    }

    static QString pathOf(const QString& address) {
        return QStringLiteral("/org/bluez/hci0/dev_") + QString(address).replace(QLatin1Char(':'), QLatin1Char('_'));
    }
    // A paired device of the given class (the template's PairDevice keeps Class only in its signal).
    static void addPairedDevice(const QString& address, const QString& name, uint classOfDevice) {
        ASSERT_TRUE(bluez->call(QStringLiteral("AddDevice"), {QStringLiteral("hci0"), address, name},
                                QStringLiteral("org.bluez.Mock"), QStringLiteral("/org/bluez"))
                        .ok());
        ASSERT_TRUE(bluez->call(QStringLiteral("Set"),
                                {kDevice, QStringLiteral("Class"), QVariant::fromValue(QDBusVariant(classOfDevice))},
                                QStringLiteral("org.freedesktop.DBus.Properties"), pathOf(address))
                        .ok());
        ASSERT_TRUE(bluez->call(QStringLiteral("PairDevice"), {QStringLiteral("hci0"), address, classOfDevice},
                                QStringLiteral("org.bluez.Mock"), QStringLiteral("/org/bluez"))
                        .ok());
    }
    static bool setConnected(const QString& address, bool connected) {
        return bluez->call(connected ? QStringLiteral("ConnectDevice") : QStringLiteral("DisconnectDevice"),
                           {QStringLiteral("hci0"), address}, QStringLiteral("org.bluez.Mock"), QStringLiteral("/org/bluez"))
            .ok();
    }
    static bool addBattery(const QString& address, int percentage) {
        return bluez->addProperties(QStringLiteral("org.bluez.Battery1"),
                                    {{QStringLiteral("Percentage"), QVariant::fromValue(static_cast<uchar>(percentage))}},
                                    pathOf(address));
    }


    static inline PrivateBus* systemBus = nullptr;
    static inline DBusMock* bluez = nullptr;
    static inline bool ready = false;
    static inline QString setUpError;
};

}  // namespace

TEST_F(BluetoothBlueZTest, PairedDevicesConnectionsThePowerStateAndTheBatteryReport) {
    BlueZBluetoothDevices devices(systemBus->connection());
    addPairedDevice(QStringLiteral("AA:BB:CC:DD:EE:01"), QStringLiteral("Quill Buds"), 0x240404);  // major 4, minor 1
    addPairedDevice(QStringLiteral("AA:BB:CC:DD:EE:02"), QStringLiteral("Desk Speaker"), 0x240410);  // major 4, minor 4
    ASSERT_TRUE(setConnected(QStringLiteral("AA:BB:CC:DD:EE:02"), true));

    const auto paired = devices.pairedDevices();
    ASSERT_TRUE(paired.has_value());
    ASSERT_EQ(paired->size(), 2u);
    const platform::BluetoothDevice& buds = paired->at(0);
    EXPECT_EQ(buds.name, QStringLiteral("Quill Buds"));
    EXPECT_EQ(buds.address, QStringLiteral("AA:BB:CC:DD:EE:01"));
    EXPECT_FALSE(buds.isConnected);
    EXPECT_EQ(buds.deviceClassMajor, 4u);
    EXPECT_EQ(buds.deviceClassMinor, 1u);
    EXPECT_TRUE(paired->at(1).isConnected);
    EXPECT_EQ(paired->at(1).deviceClassMinor, 4u);

    std::vector<platform::BluetoothPowerState> states;
    auto power = devices.observePowerState([&](platform::BluetoothPowerState s) { states.push_back(s); });
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return states.size() == 1; }));
    EXPECT_EQ(states[0], platform::BluetoothPowerState::poweredOn);
    ASSERT_TRUE(bluez->setProperty(QStringLiteral("org.bluez.Adapter1"), QStringLiteral("Powered"), false,
                                   QStringLiteral("/org/bluez/hci0")));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return states.size() == 2; }));
    EXPECT_EQ(states[1], platform::BluetoothPowerState::poweredOff);
    ASSERT_TRUE(bluez->setProperty(QStringLiteral("org.bluez.Adapter1"), QStringLiteral("Powered"), true,
                                   QStringLiteral("/org/bluez/hci0")));

    std::vector<platform::BluetoothDevice> changes;
    auto connections = devices.observeConnections([&](const platform::BluetoothDevice& d) { changes.push_back(d); });
    ASSERT_TRUE(setConnected(QStringLiteral("AA:BB:CC:DD:EE:01"), true));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return changes.size() == 1; }));
    EXPECT_EQ(changes[0].name, QStringLiteral("Quill Buds"));
    EXPECT_TRUE(changes[0].isConnected);
    EXPECT_EQ(changes[0].deviceClassMinor, 1u);
    ASSERT_TRUE(setConnected(QStringLiteral("AA:BB:CC:DD:EE:01"), false));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return changes.size() == 2; }));
    EXPECT_FALSE(changes[1].isConnected);

    // The report: one section per device with a battery, in the shape the parser reads.
    ASSERT_TRUE(addBattery(QStringLiteral("AA:BB:CC:DD:EE:01"), 80));
    const platform::BluetoothBatteryReport report = devices.batteryReport(2.0);
    ASSERT_TRUE(report.output.has_value()) << report.errorText.toStdString();
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(QString::fromUtf8(*report.output), QStringLiteral("Quill Buds")), 80);
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(QString::fromUtf8(*report.output), QStringLiteral("Desk Speaker")),
              std::nullopt);

    connections.cancel();
    ASSERT_TRUE(setConnected(QStringLiteral("AA:BB:CC:DD:EE:01"), true));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(changes.size(), 2u);
    ASSERT_TRUE(setConnected(QStringLiteral("AA:BB:CC:DD:EE:01"), false));
}

TEST_F(BluetoothBlueZTest, AConnectingHeadsetIsShownAndThenCarriesItsBatteryLevel) {
    BlueZBluetoothDevices devices(systemBus->connection());
    addPairedDevice(QStringLiteral("AA:BB:CC:DD:EE:03"), QStringLiteral("AirPods Pro"), 0x240404);
    ASSERT_TRUE(addBattery(QStringLiteral("AA:BB:CC:DD:EE:03"), 64));
    EventBus bus(scheduler());
    BluetoothService service(bus, scheduler(), devices);
    std::vector<BluetoothDeviceInfo> seen;
    auto sub = bus.bluetoothDeviceSubject.sink([&](const std::optional<BluetoothDeviceInfo>& d) {
        if (d) seen.push_back(*d);
    });
    service.start();
    ASSERT_TRUE(setConnected(QStringLiteral("AA:BB:CC:DD:EE:03"), true));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return seen.size() == 1; }));
    EXPECT_EQ(seen[0], (BluetoothDeviceInfo{QStringLiteral("AirPods Pro"), BluetoothDeviceCategory::airpods, std::nullopt}));
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: Showing activity - AirPods Pro (airpods), querying battery...")));
    scheduler().advance(1.0);
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[1].batteryLevel, 64);
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: Battery updated - AirPods Pro: 64%")));
    service.stop();
    ASSERT_TRUE(setConnected(QStringLiteral("AA:BB:CC:DD:EE:03"), false));
}

// Low Energy devices carry no class of device (the template's Class stays 0): their appearance,
// else their icon, makes headphones show as headphones.
TEST_F(BluetoothBlueZTest, LowEnergyHeadphonesAreClassifiedByAppearanceOrIcon) {
    BlueZBluetoothDevices devices(systemBus->connection());
    const QString arc = QStringLiteral("AA:BB:CC:DD:EE:11");
    const QString loop = QStringLiteral("AA:BB:CC:DD:EE:12");
    for (const auto& [address, name] : {std::pair{arc, QStringLiteral("Quill Arc")}, std::pair{loop, QStringLiteral("Quill Loop")}}) {
        ASSERT_TRUE(bluez->call(QStringLiteral("AddDevice"), {QStringLiteral("hci0"), address, name},
                                QStringLiteral("org.bluez.Mock"), QStringLiteral("/org/bluez"))
                        .ok());
        ASSERT_TRUE(bluez->call(QStringLiteral("PairDevice"), {QStringLiteral("hci0"), address, 0u},
                                QStringLiteral("org.bluez.Mock"), QStringLiteral("/org/bluez"))
                        .ok());
    }
    const auto set = [](const QString& address, const QString& name, const QVariant& value) {
        return bluez->call(QStringLiteral("Set"), {kDevice, name, QVariant::fromValue(QDBusVariant(value))},
                           QStringLiteral("org.freedesktop.DBus.Properties"), pathOf(address))
            .ok();
    };
    ASSERT_TRUE(set(arc, QStringLiteral("Appearance"), QVariant::fromValue(static_cast<ushort>(0x0943))));  // headphones
    ASSERT_TRUE(set(loop, QStringLiteral("Icon"), QStringLiteral("audio-headset")));

    EventBus bus(scheduler());
    BluetoothService service(bus, scheduler(), devices);
    std::vector<BluetoothDeviceInfo> seen;
    auto sub = bus.bluetoothDeviceSubject.sink([&](const std::optional<BluetoothDeviceInfo>& d) {
        if (d && !d->batteryLevel) seen.push_back(*d);
    });
    service.start();
    ASSERT_TRUE(setConnected(arc, true));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return seen.size() == 1; }));
    ASSERT_TRUE(setConnected(loop, true));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[0], (BluetoothDeviceInfo{QStringLiteral("Quill Arc"), BluetoothDeviceCategory::headphones, std::nullopt}));
    EXPECT_EQ(seen[1], (BluetoothDeviceInfo{QStringLiteral("Quill Loop"), BluetoothDeviceCategory::headphones, std::nullopt}));
    EXPECT_TRUE(log.contains(QStringLiteral("BluetoothService: Showing activity - Quill Arc (headphones), querying battery...")));
    service.stop();
    ASSERT_TRUE(setConnected(arc, false));
    ASSERT_TRUE(setConnected(loop, false));
}

TEST(BlueZLowEnergyClass, AudioAppearancesAndIconsGiveTheClassicClass) {
    const auto minor = [](uint16_t appearance, const char* icon) {
        const uint32_t cod = BlueZBluetoothDevices::lowEnergyClassOfDevice(appearance, QString::fromLatin1(icon));
        return std::pair{platform::BluetoothDevice::majorClassOf(cod), platform::BluetoothDevice::minorClassOf(cod)};
    };
    using Class = std::pair<uint32_t, uint32_t>;
    EXPECT_EQ(minor(0x0941, ""), (Class{4, 6}));  // earbud
    EXPECT_EQ(minor(0x0942, ""), (Class{4, 1}));  // headset
    EXPECT_EQ(minor(0x0843, "audio-headphones"), (Class{4, 5}));  // a speaker: the appearance wins over the icon
    EXPECT_EQ(minor(0x0881, ""), (Class{0, 0}));  // a microphone is no audio output
    EXPECT_EQ(minor(0x00C1, "audio-card"), (Class{0, 0}));  // a watch, a generic audio icon: the names decide
    EXPECT_EQ(minor(0, "audio-headphones"), (Class{4, 6}));
    // A classic device keeps the class it reports.
    const platform::BluetoothDevice classic = BlueZBluetoothDevices::deviceFrom(
        {{QStringLiteral("Class"), 0x240410u}, {QStringLiteral("Icon"), QStringLiteral("audio-headphones")}});
    EXPECT_EQ(classic.deviceClassMajor, 4u);
    EXPECT_EQ(classic.deviceClassMinor, 4u);
    // A laptop: major class 1 (computer), minor 3, read from bits 8-12 and 2-7.
    const platform::BluetoothDevice laptop = BlueZBluetoothDevices::deviceFrom({{QStringLiteral("Class"), 0x5A010Cu}});
    EXPECT_EQ(laptop.deviceClassMajor, 1u);
    EXPECT_EQ(laptop.deviceClassMinor, 3u);
}

// A Bluetooth service that takes the call and never answers: the report gives up at its deadline.
TEST_F(BluetoothBlueZTest, ASilentServiceGivesNoReportWithinTheDeadline) {
    QString error;
    auto silentBus = PrivateBus::start(PrivateBus::Kind::system, &error);
    ASSERT_TRUE(silentBus) << error.toStdString();
    auto silent = DBusMock::startPlain(*silentBus, QStringLiteral("org.bluez"), QStringLiteral("/"),
                                       QStringLiteral("org.freedesktop.DBus.ObjectManager"), &error);
    ASSERT_TRUE(silent) << error.toStdString();
    ASSERT_TRUE(silent->addMethod(QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"),
                                  QString(), QStringLiteral("a{oa{sa{sv}}}"),
                                  QStringLiteral("import time; time.sleep(3); ret = {}")));
    BlueZBluetoothDevices devices(silentBus->connection());
    QElapsedTimer timer;
    timer.start();
    const platform::BluetoothBatteryReport report = devices.batteryReport(0.3);
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_FALSE(report.output.has_value());
    EXPECT_TRUE(report.errorText.contains(QStringLiteral("no answer"))) << report.errorText.toStdString();
}

// A remote device picks its own name: a line break in it must not forge another section's level.
TEST(BlueZBatteryReport, ADevicesNameStaysOnItsHeaderLine) {
    auto object = [](const QString& name, const QString& address, int percentage) {
        QVariantMap interfaces{{QStringLiteral("org.bluez.Device1"),
                                QVariantMap{{QStringLiteral("Name"), name}, {QStringLiteral("Address"), address}}}};
        if (percentage >= 0)
            interfaces.insert(QStringLiteral("org.bluez.Battery1"),
                              QVariantMap{{QStringLiteral("Percentage"), QVariant::fromValue(static_cast<uchar>(percentage))}});
        return QVariant(interfaces);
    };
    const QVariantMap objects{
        {QStringLiteral("/org/bluez/hci0/dev_09"), object(QStringLiteral("Mallory:\nQuill Buds"), QStringLiteral("09"), 5)},
        {QStringLiteral("/org/bluez/hci0/dev_02"), object(QStringLiteral("Quill Buds"), QStringLiteral("02"), 40)},
        {QStringLiteral("/org/bluez/hci0/dev_03"), object(QStringLiteral("No Battery"), QStringLiteral("03"), -1)},
        // Names that read like battery lines keep their own levels, and leave the one before its own.
        {QStringLiteral("/org/bluez/hci0/dev_04"), object(QStringLiteral("AirPods Pro"), QStringLiteral("04"), 80)},
        {QStringLiteral("/org/bluez/hci0/dev_05"), object(QStringLiteral("Anker Battery Pack"), QStringLiteral("05"), 50)},
        {QStringLiteral("/org/bluez/hci0/dev_06"), object(QStringLiteral("Battery Level: 9%"), QStringLiteral("06"), 30)},
    };
    const QString report = QString::fromUtf8(BlueZBluetoothDevices::renderBatteryReport(objects));
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(report, QStringLiteral("Quill Buds")), 40);
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(report, QStringLiteral("AirPods Pro")), 80);
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(report, QStringLiteral("Anker Battery Pack")), 50);
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(report, QStringLiteral("Battery Level: 9%")), 30);
    EXPECT_EQ(BluetoothService::parseBatteryFromProfiler(report, QStringLiteral("No Battery")), std::nullopt);
    EXPECT_FALSE(report.contains(QStringLiteral("No Battery")));
    EXPECT_EQ(BlueZBluetoothDevices::powerStateFrom(objects), platform::BluetoothPowerState::unsupported);  // no adapter
}
