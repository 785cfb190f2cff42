#pragma once

// Notices when a paired Bluetooth device connects, names its kind, announces it (the device on
// the bus, then the activity) and a second later announces it again with its battery level.
// Disconnections only update the bookkeeping. Devices already connected at start are not
// announced while they stay connected; one name is announced at most once in five seconds.

#include "core/event_bus.h"
#include "platform/bluetooth/bluetooth_devices.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <set>

class BluetoothService {
public:
    static constexpr double batteryQueryDelay = 1.0;
    static constexpr double scanDelay = 1.0;
    static constexpr double duplicateWindow = 5.0;
    // A battery source that never answers gives no level instead of holding the query forever.
    static constexpr double batteryQueryTimeout = 5.0;

    static BluetoothService& shared();

    explicit BluetoothService(EventBus& bus = EventBus::shared(),
                              platform::Scheduler& scheduler = platform::Scheduler::shared(),
                              platform::BluetoothDevices& devices = platform::BluetoothDevices::shared());
    BluetoothService(const BluetoothService&) = delete;
    BluetoothService& operator=(const BluetoothService&) = delete;

    void start();
    // Always runs and logs, running or not.
    void stop();

    bool isRunning() const { return isRunning_; }
    const std::set<QString>& connectedAddresses() const { return connectedAddresses_; }

    // Platform callbacks: a device connected or disconnected, a system notice about Bluetooth,
    // the radio's state.
    void handleDeviceConnected(const platform::BluetoothDevice& device);
    void handleDeviceDisconnected(const platform::BluetoothDevice& device);
    void handleBluetoothDistributedNotification(const QString& name);
    void centralManagerDidUpdateState(platform::BluetoothPowerState state);

    static BluetoothDeviceCategory classifyDevice(const QString& name, uint32_t majorClass, uint32_t minorClass);
    // The mean battery level (truncated) of `deviceName`'s section of the report, or none.
    static std::optional<int> parseBatteryFromProfiler(const QString& output, const QString& deviceName);

private:
    void recordCurrentlyConnectedDevices();
    void scanForNewConnections();
    void showBluetoothActivity(const QString& name, BluetoothDeviceCategory category);
    // Blocking: runs off the main thread.
    std::optional<int> queryBatteryLevel(const QString& deviceName);

    EventBus& bus;
    platform::Scheduler& scheduler_;
    platform::BluetoothDevices& devices_;
    bool isRunning_ = false;
    std::set<QString> connectedAddresses_;
    // The one subscription for connects and disconnects, and the radio's state.
    platform::AnyCancellable connectNotification_;
    platform::AnyCancellable centralManager_;
    platform::AnyCancellable noticeObservation_;
    QString lastShownDevice_;
    std::optional<int64_t> lastShownTimeMicros_;  // none: the distant past
    // Counts stops, so a battery step scheduled by an earlier run can tell it is stale.
    uint64_t runGeneration_ = 0;
    platform::Lifetime lifetime_;
};
