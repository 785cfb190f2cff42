#include "platform/bluetooth/bluez_bluetooth_devices.h"

#include <QDBusObjectPath>

#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <utility>

namespace platform {

namespace {

const QString kService = QStringLiteral("org.bluez");
const QString kDevice = QStringLiteral("org.bluez.Device1");
const QString kAdapter = QStringLiteral("org.bluez.Adapter1");
const QString kBattery = QStringLiteral("org.bluez.Battery1");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

DBusCall managedObjectsCall() {
    return DBusCall{kService, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                    QStringLiteral("GetManagedObjects"), {}};
}

std::optional<QString> textOf(const QVariantMap& properties, const QString& name) {
    const auto it = properties.find(name);
    if (it == properties.end() || !it->canConvert<QString>()) return std::nullopt;
    return it->toString();
}

// A remote device's name goes into a line-based report: a line break in it must not start a
// line of its own (it could pose as another device's battery line).
QString oneLine(QString text) {
    for (QChar& c : text)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0x2028) || c == QChar(0x2029)) c = QLatin1Char(' ');
    return text;
}

// In-flight lookups of one observation, dropped with it.
struct Observation {
    std::vector<AnyCancellable> subscriptions;
    std::map<uint64_t, AnyCancellable> lookups;
    uint64_t nextLookup = 0;
};

AnyCancellable own(std::shared_ptr<Observation> observation) {
    return AnyCancellable([observation] {
        auto subscriptions = std::move(observation->subscriptions);
        auto lookups = std::move(observation->lookups);
        observation->subscriptions.clear();
        observation->lookups.clear();
        for (auto& s : subscriptions) s.cancel();
        for (auto& [id, lookup] : lookups) lookup.cancel();
    });
}

}  // namespace

BlueZBluetoothDevices::BlueZBluetoothDevices(DBusConnection& systemBus) : bus_(systemBus) {}

BluetoothDevice BlueZBluetoothDevices::deviceFrom(const QVariantMap& properties) {
    BluetoothDevice device;
    device.name = textOf(properties, QStringLiteral("Name"));
    device.address = textOf(properties, QStringLiteral("Address"));
    device.isConnected = properties.value(QStringLiteral("Connected")).toBool();
    uint32_t classOfDevice = properties.value(QStringLiteral("Class")).toUInt();
    if (classOfDevice == 0) {
        classOfDevice = lowEnergyClassOfDevice(static_cast<uint16_t>(properties.value(QStringLiteral("Appearance")).toUInt()),
                                               properties.value(QStringLiteral("Icon")).toString());
    }
    device.deviceClassMajor = BluetoothDevice::majorClassOf(classOfDevice);
    device.deviceClassMinor = BluetoothDevice::minorClassOf(classOfDevice);
    return device;
}

uint32_t BlueZBluetoothDevices::lowEnergyClassOfDevice(uint16_t appearance, const QString& icon) {
    // Class of device: the audio/video major class 4 with its minor classes.
    constexpr uint32_t headset = (4u << 8) | (1u << 2);
    constexpr uint32_t loudspeaker = (4u << 8) | (5u << 2);
    constexpr uint32_t headphones = (4u << 8) | (6u << 2);
    // GAP appearance: a 10-bit category and a 6-bit subcategory.
    const uint16_t category = appearance >> 6;
    const uint16_t subcategory = appearance & 0x3F;
    if (category == 0x25) {  // wearable audio device: earbud, headset, headphones, neckband
        return subcategory == 2 ? headset : headphones;
    }
    if (category == 0x21 && subcategory >= 1 && subcategory <= 4) return loudspeaker;  // audio sink: speakers, soundbar
    if (icon == QLatin1String("audio-headphones")) return headphones;
    if (icon == QLatin1String("audio-headset")) return headset;
    return 0;
}

std::optional<std::vector<BluetoothDevice>> BlueZBluetoothDevices::pairedDevices() {
    const DBusReply reply = bus_.call(managedObjectsCall(), lookupTimeout);
    if (!reply.ok()) return std::nullopt;
    std::vector<BluetoothDevice> devices;
    const QVariantMap objects = reply.value().toMap();
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        const QVariantMap interfaces = it->toMap();
        const auto device = interfaces.find(kDevice);
        if (device == interfaces.end()) continue;
        const QVariantMap properties = device->toMap();
        if (!properties.value(QStringLiteral("Paired")).toBool()) continue;
        devices.push_back(deviceFrom(properties));
    }
    return devices;
}

AnyCancellable BlueZBluetoothDevices::observeConnections(std::function<void(const BluetoothDevice&)> handler) {
    auto observation = std::make_shared<Observation>();
    std::weak_ptr<Observation> weak = observation;
    auto shared = std::make_shared<std::function<void(const BluetoothDevice&)>>(std::move(handler));
    observation->subscriptions.push_back(bus_.subscribe(
        DBusMatch{kService, QString(), kProperties, QStringLiteral("PropertiesChanged"), kDevice},
        [this, weak, shared](const DBusSignal& signal) {
            auto live = weak.lock();
            if (!live || signal.arguments.size() < 2) return;
            const QVariantMap changed = signal.arguments.at(1).toMap();
            const auto connected = changed.find(QStringLiteral("Connected"));
            if (connected == changed.end()) return;
            const bool isConnected = connected->toBool();
            // The signal carries only what changed: the rest of the device comes from its object.
            const uint64_t id = live->nextLookup++;
            live->lookups.emplace(id, bus_.allPropertiesAsync(
                kService, signal.path, kDevice, lookupTimeout, [weak, shared, id, isConnected](const DBusReply& reply) {
                    auto still = weak.lock();
                    if (!still) return;
                    still->lookups.erase(id);
                    // A device gone before the lookup answered is reported by what the signal said.
                    BluetoothDevice device = reply.ok() ? deviceFrom(reply.value().toMap()) : BluetoothDevice{};
                    device.isConnected = isConnected;
                    (*shared)(device);
                }));
        }));
    return own(observation);
}

BluetoothPowerState BlueZBluetoothDevices::powerStateFrom(const QVariantMap& managedObjects) {
    for (auto it = managedObjects.begin(); it != managedObjects.end(); ++it) {
        const QVariantMap interfaces = it->toMap();
        const auto adapter = interfaces.find(kAdapter);
        if (adapter == interfaces.end()) continue;
        return adapter->toMap().value(QStringLiteral("Powered")).toBool() ? BluetoothPowerState::poweredOn
                                                                           : BluetoothPowerState::poweredOff;
    }
    return BluetoothPowerState::unsupported;
}

AnyCancellable BlueZBluetoothDevices::observePowerState(std::function<void(BluetoothPowerState)> handler) {
    auto observation = std::make_shared<Observation>();
    auto shared = std::make_shared<std::function<void(BluetoothPowerState)>>(std::move(handler));
    observation->lookups.emplace(0, bus_.callAsync(managedObjectsCall(), lookupTimeout, [shared](const DBusReply& reply) {
        if (reply.ok()) (*shared)(powerStateFrom(reply.value().toMap()));
        else if (reply.status == DBusReply::Status::timedOut) (*shared)(BluetoothPowerState::unknown);
        else (*shared)(BluetoothPowerState::unsupported);  // no Bluetooth service at all
    }));
    observation->subscriptions.push_back(
        bus_.subscribe(DBusMatch{kService, QString(), kProperties, QStringLiteral("PropertiesChanged"), kAdapter},
                       [shared](const DBusSignal& signal) {
                           if (signal.arguments.size() < 2) return;
                           const QVariantMap changed = signal.arguments.at(1).toMap();
                           const auto powered = changed.find(QStringLiteral("Powered"));
                           if (powered == changed.end()) return;
                           (*shared)(powered->toBool() ? BluetoothPowerState::poweredOn : BluetoothPowerState::poweredOff);
                       }));
    return own(observation);
}

AnyCancellable BlueZBluetoothDevices::observeNotices(std::function<void(const QString&)>) { return {}; }

QByteArray BlueZBluetoothDevices::renderBatteryReport(const QVariantMap& managedObjects) {
    QString report = QStringLiteral("Bluetooth:\n\n      Devices:\n");
    for (auto it = managedObjects.begin(); it != managedObjects.end(); ++it) {
        const QVariantMap interfaces = it->toMap();
        const auto device = interfaces.find(kDevice);
        const auto battery = interfaces.find(kBattery);
        if (device == interfaces.end() || battery == interfaces.end()) continue;
        const QVariantMap properties = device->toMap();
        const std::optional<QString> name = textOf(properties, QStringLiteral("Name"));
        const QVariant percentage = battery->toMap().value(QStringLiteral("Percentage"));
        if (!name || name->isEmpty() || !percentage.isValid()) continue;
        // The reader takes a line holding "Battery" for a level, never for a header, and matches
        // names without regard to case: "Battery" in a name is written in lower case.
        report += QStringLiteral("          ") + oneLine(*name).replace(QStringLiteral("Battery"), QStringLiteral("battery")) +
                  QStringLiteral(":\n");
        if (const auto address = textOf(properties, QStringLiteral("Address")))
            report += QStringLiteral("              Address: ") + oneLine(*address) + QStringLiteral("\n");
        report += QStringLiteral("              Battery Level: ") + QString::number(percentage.toUInt()) +
                  QStringLiteral("%\n");
    }
    return report.toUtf8();
}

BluetoothBatteryReport BlueZBluetoothDevices::batteryReport(double timeoutSeconds) {
    const auto timeout = std::chrono::milliseconds(static_cast<long long>(std::ceil(std::max(0.0, timeoutSeconds) * 1000)));
    const DBusReply reply = bus_.call(managedObjectsCall(), timeout);
    switch (reply.status) {
    case DBusReply::Status::ok: return {renderBatteryReport(reply.value().toMap()), {}};
    case DBusReply::Status::timedOut:
        return {std::nullopt, QStringLiteral("no answer from org.bluez within ") + QString::number(timeoutSeconds) +
                                  QStringLiteral(" s")};
    case DBusReply::Status::noBus: return {std::nullopt, QStringLiteral("no system bus")};
    case DBusReply::Status::error: break;
    }
    return {std::nullopt, reply.errorName + QStringLiteral(": ") + reply.errorMessage};
}

namespace {
BluetoothDevices* devicesOverride = nullptr;
}

BluetoothDevices& BluetoothDevices::shared() {
    if (devicesOverride) return *devicesOverride;
    static auto* devices = new BlueZBluetoothDevices();
    return *devices;
}

BluetoothDevices* BluetoothDevices::setShared(BluetoothDevices* devices) { return std::exchange(devicesOverride, devices); }

}  // namespace platform
