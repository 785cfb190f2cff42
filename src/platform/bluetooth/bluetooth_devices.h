#pragma once

#include "platform/runtime/reactive.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

// One paired Bluetooth device as the system knows it now. Name and address come from the remote
// device and may be missing.
struct BluetoothDevice {
    std::optional<QString> name;
    std::optional<QString> address;
    bool isConnected = false;
    // The class-of-device fields: major (bits 8-12) and minor (bits 2-7).
    uint32_t deviceClassMajor = 0;
    uint32_t deviceClassMinor = 0;

    static uint32_t majorClassOf(uint32_t classOfDevice) { return (classOfDevice >> 8) & 0x1F; }
    static uint32_t minorClassOf(uint32_t classOfDevice) { return (classOfDevice >> 2) & 0x3F; }
};

// The radio's state, numbered as the platform reports it.
enum class BluetoothPowerState : int {
    unknown = 0,
    resetting = 1,
    unsupported = 2,
    unauthorized = 3,
    poweredOff = 4,
    poweredOn = 5,
};

// The outcome of a battery report: the text (device-name header lines, each followed by its
// "Battery Level: N%" lines), or why there is none.
struct BluetoothBatteryReport {
    std::optional<QByteArray> output;
    QString errorText;
};

// The machine's Bluetooth: paired devices, connection changes, the radio's state and the
// devices' battery levels. Handlers run on the main thread.
class BluetoothDevices {
public:
    virtual ~BluetoothDevices() = default;

    // The system's devices (BlueZ on the system bus unless a test installed another).
    static BluetoothDevices& shared();
    // Installs `devices` (nullptr restores the default); returns the previous one.
    static BluetoothDevices* setShared(BluetoothDevices* devices);

    // The paired devices now; none when the list cannot be had (no Bluetooth service). Blocks for
    // at most a short bounded time; main thread.
    virtual std::optional<std::vector<BluetoothDevice>> pairedDevices() = 0;
    // Every change of a paired device's connection: the device with its new `isConnected`.
    [[nodiscard]] virtual AnyCancellable observeConnections(std::function<void(const BluetoothDevice&)> handler) = 0;
    // The radio's state soon after the call, then each change.
    [[nodiscard]] virtual AnyCancellable observePowerState(std::function<void(BluetoothPowerState)> handler) = 0;
    // System notices about Bluetooth by name (the desktop posts none here: only tests do).
    [[nodiscard]] virtual AnyCancellable observeNotices(std::function<void(const QString& name)> handler) = 0;
    // The battery report, waiting at most `timeoutSeconds`. Blocking: call it off the main thread;
    // safe from any thread.
    virtual BluetoothBatteryReport batteryReport(double timeoutSeconds) = 0;
};

}  // namespace platform
