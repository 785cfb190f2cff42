#include "support/fake_bluetooth_devices.h"

namespace testsupport {

template <class H>
platform::AnyCancellable FakeBluetoothDevices::add(std::shared_ptr<Observers<H>>& observers, H handler) {
    const uint64_t id = next_++;
    observers->emplace(id, std::make_shared<H>(std::move(handler)));
    std::weak_ptr<Observers<H>> weak = observers;
    return platform::AnyCancellable([weak, id] {
        if (auto live = weak.lock()) live->erase(id);
    });
}

std::optional<std::vector<platform::BluetoothDevice>> FakeBluetoothDevices::pairedDevices() {
    ++pairedCalls_;
    return paired;
}

platform::AnyCancellable FakeBluetoothDevices::observeConnections(
    std::function<void(const platform::BluetoothDevice&)> handler) {
    return add(connectionsPtr_, std::move(handler));
}

platform::AnyCancellable FakeBluetoothDevices::observePowerState(std::function<void(platform::BluetoothPowerState)> handler) {
    return add(powerPtr_, std::move(handler));
}

platform::AnyCancellable FakeBluetoothDevices::observeNotices(std::function<void(const QString&)> handler) {
    return add(noticesPtr_, std::move(handler));
}

platform::BluetoothBatteryReport FakeBluetoothDevices::batteryReport(double timeoutSeconds) {
    ++reportCalls_;
    lastReportTimeout_ = timeoutSeconds;
    return onReport ? onReport(timeoutSeconds) : report;
}

void FakeBluetoothDevices::connectionChanged(const platform::BluetoothDevice& device) {
    auto copy = connections_;
    for (auto& [id, handler] : copy) (*handler)(device);
}

void FakeBluetoothDevices::powerStateChanged(platform::BluetoothPowerState state) {
    auto copy = power_;
    for (auto& [id, handler] : copy) (*handler)(state);
}

void FakeBluetoothDevices::postNotice(const QString& name) {
    auto copy = notices_;
    for (auto& [id, handler] : copy) (*handler)(name);
}

platform::BluetoothDevice FakeBluetoothDevices::device(const QString& name, const QString& address, bool connected,
                                                       uint32_t major, uint32_t minor) {
    platform::BluetoothDevice d;
    if (!name.isNull()) d.name = name;
    if (!address.isNull()) d.address = address;
    d.isConnected = connected;
    d.deviceClassMajor = major;
    d.deviceClassMinor = minor;
    return d;
}

}  // namespace testsupport
