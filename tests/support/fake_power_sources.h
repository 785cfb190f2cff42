#pragma once

#include "platform/power/power_sources.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace testsupport {

// Power sources whose reading the test sets by hand; change notices are sent synchronously to
// every live observer. `notificationAvailable` false stands for a machine without the notice.
class FakePowerSources final : public platform::PowerSources {
public:
    std::optional<platform::PowerSourceDescription> source;
    bool notificationAvailable = true;
    int readCount = 0;

    // A battery at `level` percent, on AC power or not.
    void setBattery(int level, bool pluggedIn, bool charging = false) {
        source = platform::PowerSourceDescription{
            level, charging, pluggedIn ? platform::kACPowerState : platform::kBatteryPowerState};
    }

    std::optional<platform::PowerSourceDescription> firstPowerSource() override {
        ++readCount;
        return source;
    }

    [[nodiscard]] std::optional<platform::AnyCancellable> createChangeNotification(std::function<void()> changed) override {
        if (!notificationAvailable) return std::nullopt;
        auto entry = std::make_shared<Entry>(Entry{std::move(changed)});
        observers_.push_back(entry);
        return platform::AnyCancellable([entry] { entry->active = false; });
    }

    void sendChange() {
        const auto copy = observers_;
        for (const auto& entry : copy)
            if (entry->active) entry->fn();
    }
    int observerCount() const {
        int n = 0;
        for (const auto& entry : observers_) n += entry->active ? 1 : 0;
        return n;
    }

private:
    struct Entry {
        std::function<void()> fn;
        bool active = true;
    };
    std::vector<std::shared_ptr<Entry>> observers_;
};

}  // namespace testsupport
