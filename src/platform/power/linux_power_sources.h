#pragma once

#include "platform/dbus/dbus_connection.h"
#include "platform/power/power_sources.h"

#include <QString>

#include <map>
#include <string>

namespace platform {

// Power sources on Linux:
// - the reading comes from the kernel's power_supply class under `root`: the first battery of
//   the system (type Battery, not a peripheral's, present) gives the capacity and whether it is
//   charging; any adapter (type Mains or USB*) that is online means the machine is on AC power;
// - the change notice comes from UPower on the system bus (PropertiesChanged of its objects,
//   devices added or removed). Sysfs itself gives no change events, so without UPower there is
//   no notice.
class LinuxPowerSources final : public PowerSources {
public:
    static constexpr DBusConnection::Timeout busTimeout{500};

    explicit LinuxPowerSources(QString root = defaultRoot(), DBusConnection& systemBus = DBusConnection::system());

    static QString defaultRoot() { return QStringLiteral("/sys/class/power_supply"); }

    std::optional<PowerSourceDescription> firstPowerSource() override;
    [[nodiscard]] std::optional<AnyCancellable> createChangeNotification(std::function<void()> changed) override;

private:
    enum class SupplyKind { battery, adapter, other };
    SupplyKind kindOf(const std::string& entry, const std::string& name);

    // Whether UPower runs on the bus or can be started by it.
    bool upowerAvailable();

    QString root_;
    DBusConnection& systemBus_;
    // What each supply present at the last reading is, by name.
    std::map<std::string, SupplyKind> kinds_;
};

}  // namespace platform
