#pragma once

// Watches the machine's power source and turns it into the battery record and three activity
// requests: charging when the adapter is connected, power disconnect when it goes, and low battery
// when the level on battery power falls to a threshold. The power sources' change notice and a
// 5-second backstop timer both lead to the same check.

#include "core/event_bus.h"
#include "platform/power/power_sources.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <array>
#include <optional>
#include <set>

class BatteryService {
public:
    static constexpr double checkInterval = 5.0;
    // Highest first; a fall announces at most one of them per check.
    static constexpr std::array<int, 3> lowBatteryThresholds{20, 10, 5};
    // At or above this level a discharge counts as new again.
    static constexpr int rearmLevel = 21;

    static BatteryService& shared();

    explicit BatteryService(EventBus& bus = EventBus::shared(),
                            platform::Scheduler& scheduler = platform::Scheduler::shared(),
                            platform::PowerSources& powerSources = platform::PowerSources::shared());
    BatteryService(const BatteryService&) = delete;
    BatteryService& operator=(const BatteryService&) = delete;

    void start();
    // Always runs and logs, running or not. A check the change notice queued before it is dropped.
    void stop();

    bool isRunning() const { return isRunning_; }
    bool previouslyPluggedIn() const { return previouslyPluggedIn_; }
    int previousLevel() const { return previousLevel_; }
    const std::set<int>& notifiedThresholds() const { return notifiedThresholds_; }
    bool hasChangeNotification() const { return runLoopSource_.has_value(); }

private:
    void checkBatteryState();
    // A reading without a level is no reading: a level of 0 would raise a false warning.
    std::optional<BatteryInfo> fetchBatteryInfo();
    void powerSourcesChanged();

    EventBus& bus;
    platform::Scheduler& scheduler_;
    platform::PowerSources& powerSources_;
    platform::RepeatingTimer timer_;
    bool previouslyPluggedIn_ = false;
    bool isRunning_ = false;
    std::optional<platform::AnyCancellable> runLoopSource_;
    int previousLevel_ = 100;
    std::set<int> notifiedThresholds_;
    // Wraps the checks queued by the change notice; stop() resets it so none runs after.
    platform::Lifetime queuedChecks_;
    platform::Lifetime lifetime_;
};
