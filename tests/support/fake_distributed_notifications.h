#pragma once

#include "platform/distributed_notifications/distributed_notification_center.h"

#include <memory>
#include <vector>

namespace testsupport {

// Notices the test posts by hand, synchronously, to every live observer.
class FakeDistributedNotificationCenter final : public platform::DistributedNotificationCenter {
public:
    [[nodiscard]] platform::AnyCancellable observeAll(Observer observer) override {
        auto entry = std::make_shared<Entry>(Entry{std::move(observer)});
        observers_.push_back(entry);
        return platform::AnyCancellable([entry] { entry->active = false; });
    }

    void post(const QString& name) {
        const auto copy = observers_;
        for (const auto& entry : copy)
            if (entry->active) entry->fn(name);
    }

    int observerCount() const {
        int n = 0;
        for (const auto& entry : observers_) n += entry->active ? 1 : 0;
        return n;
    }

private:
    struct Entry {
        Observer fn;
        bool active = true;
    };
    std::vector<std::shared_ptr<Entry>> observers_;
};

}  // namespace testsupport
