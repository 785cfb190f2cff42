#pragma once

#include "platform/bluetooth/bluetooth_devices.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace testsupport {

// Scripted Bluetooth: the test sets the paired list and the report, and fires connection
// changes, power states and notices at the observers.
class FakeBluetoothDevices final : public platform::BluetoothDevices {
public:
    // None: the list cannot be had.
    std::optional<std::vector<platform::BluetoothDevice>> paired = std::vector<platform::BluetoothDevice>{};
    // What batteryReport answers; `onReport` (when set) answers instead, given the timeout.
    platform::BluetoothBatteryReport report{QByteArray(), QString()};
    std::function<platform::BluetoothBatteryReport(double timeoutSeconds)> onReport;

    std::optional<std::vector<platform::BluetoothDevice>> pairedDevices() override;
    [[nodiscard]] platform::AnyCancellable observeConnections(
        std::function<void(const platform::BluetoothDevice&)> handler) override;
    [[nodiscard]] platform::AnyCancellable observePowerState(
        std::function<void(platform::BluetoothPowerState)> handler) override;
    [[nodiscard]] platform::AnyCancellable observeNotices(std::function<void(const QString&)> handler) override;
    platform::BluetoothBatteryReport batteryReport(double timeoutSeconds) override;

    // Fires at every live observer.
    void connectionChanged(const platform::BluetoothDevice& device);
    void powerStateChanged(platform::BluetoothPowerState state);
    void postNotice(const QString& name);

    int connectionObservers() const { return static_cast<int>(connections_.size()); }
    int powerObservers() const { return static_cast<int>(power_.size()); }
    int noticeObservers() const { return static_cast<int>(notices_.size()); }
    int pairedDevicesCalls() const { return pairedCalls_; }
    int reportCalls() const { return reportCalls_.load(); }
    double lastReportTimeout() const { return lastReportTimeout_.load(); }

    static platform::BluetoothDevice device(const QString& name, const QString& address, bool connected,
                                            uint32_t major = 0, uint32_t minor = 0);

private:
    template <class H>
    using Observers = std::map<uint64_t, std::shared_ptr<H>>;
    template <class H>
    platform::AnyCancellable add(std::shared_ptr<Observers<H>>& observers, H handler);

    std::shared_ptr<Observers<std::function<void(const platform::BluetoothDevice&)>>> connectionsPtr_ =
        std::make_shared<Observers<std::function<void(const platform::BluetoothDevice&)>>>();
    std::shared_ptr<Observers<std::function<void(platform::BluetoothPowerState)>>> powerPtr_ =
        std::make_shared<Observers<std::function<void(platform::BluetoothPowerState)>>>();
    std::shared_ptr<Observers<std::function<void(const QString&)>>> noticesPtr_ =
        std::make_shared<Observers<std::function<void(const QString&)>>>();
    Observers<std::function<void(const platform::BluetoothDevice&)>>& connections_ = *connectionsPtr_;
    Observers<std::function<void(platform::BluetoothPowerState)>>& power_ = *powerPtr_;
    Observers<std::function<void(const QString&)>>& notices_ = *noticesPtr_;
    uint64_t next_ = 0;
    int pairedCalls_ = 0;
    std::atomic<int> reportCalls_{0};
    std::atomic<double> lastReportTimeout_{0};
};

}  // namespace testsupport
