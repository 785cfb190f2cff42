#pragma once

#include "platform/runtime/reactive.h"

#include <QString>

#include <functional>
#include <optional>

namespace platform {

// What the first power source of the machine says about itself. Each field is absent when the
// source does not report it.
struct PowerSourceDescription {
    std::optional<int> currentCapacity;  // percent
    std::optional<bool> isCharging;
    std::optional<QString> powerSourceState;  // "AC Power" while the adapter is connected, else "Battery Power"

    friend bool operator==(const PowerSourceDescription&, const PowerSourceDescription&) = default;
};

inline const QString kACPowerState = QStringLiteral("AC Power");
inline const QString kBatteryPowerState = QStringLiteral("Battery Power");

// The machine's power sources and their change notice. Main thread only.
class PowerSources {
public:
    virtual ~PowerSources() = default;

    // The process-wide power sources (the Linux kernel's and UPower unless a test installed others).
    static PowerSources& shared();
    // Installs `sources` (nullptr restores the default); returns the previous one.
    static PowerSources* setShared(PowerSources* sources);

    // A fresh reading of the first power source; absent when the machine has none.
    virtual std::optional<PowerSourceDescription> firstPowerSource() = 0;
    // Calls `changed` on the main thread whenever a power source changes, until the cancellable
    // goes; absent when no change notice can be had (a caller then has to poll).
    [[nodiscard]] virtual std::optional<AnyCancellable> createChangeNotification(std::function<void()> changed) = 0;
};

}  // namespace platform
