#pragma once

#include "platform/bluetooth/bluetooth_devices.h"
#include "platform/dbus/dbus_connection.h"

#include <QVariantMap>

namespace platform {

// Bluetooth through BlueZ on the system bus: paired devices are the org.bluez.Device1 objects of
// GetManagedObjects with Paired set, connection changes the PropertiesChanged of Device1's
// Connected (one match for all devices), the radio's state the first adapter's Powered, and the
// battery report is rendered from org.bluez.Battery1's Percentage.
class BlueZBluetoothDevices final : public BluetoothDevices {
public:
    explicit BlueZBluetoothDevices(DBusConnection& systemBus = DBusConnection::system());

    static constexpr DBusConnection::Timeout lookupTimeout{1000};

    std::optional<std::vector<BluetoothDevice>> pairedDevices() override;
    [[nodiscard]] AnyCancellable observeConnections(std::function<void(const BluetoothDevice&)> handler) override;
    [[nodiscard]] AnyCancellable observePowerState(std::function<void(BluetoothPowerState)> handler) override;
    [[nodiscard]] AnyCancellable observeNotices(std::function<void(const QString& name)> handler) override;
    BluetoothBatteryReport batteryReport(double timeoutSeconds) override;

    // The device described by Device1's properties. A device without a class of device (Low
    // Energy ones have none) gets the class a classic device of its kind carries, from its GAP
    // appearance, else from the icon BlueZ chose for it.
    static BluetoothDevice deviceFrom(const QVariantMap& properties);
    // That class for an appearance and an icon name; 0 when neither names an audio device.
    static uint32_t lowEnergyClassOfDevice(uint16_t appearance, const QString& icon);
    // The report for GetManagedObjects' answer: for every device with a name and a Battery1
    // percentage, a header line with the name, its address, and its "Battery Level: N%" line.
    static QByteArray renderBatteryReport(const QVariantMap& managedObjects);
    // The radio's state in GetManagedObjects' answer (the first adapter's Powered).
    static BluetoothPowerState powerStateFrom(const QVariantMap& managedObjects);

private:
    DBusConnection& bus_;
};

}  // namespace platform
