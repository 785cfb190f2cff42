#pragma once

#include "platform/session/session_monitor.h"

#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

// A session whose lock and activity notices the test sends by hand, synchronously, to every
// live observer.
class FakeSessionMonitor final : public platform::SessionMonitor {
public:
    [[nodiscard]] platform::AnyCancellable observeSessionActive(std::function<void(bool)> handler) override {
        return add(activeObservers_, std::move(handler));
    }
    [[nodiscard]] platform::AnyCancellable observeScreenLock(std::function<void(bool)> handler) override {
        return add(lockObservers_, std::move(handler));
    }

    void sendSessionActive(bool active) { deliver(activeObservers_, active); }
    void sendScreenLock(bool locked) { deliver(lockObservers_, locked); }
    int observerCount() const { return live(activeObservers_) + live(lockObservers_); }

private:
    struct Entry {
        std::function<void(bool)> fn;
        bool active = true;
    };
    using Handler = std::shared_ptr<Entry>;
    static platform::AnyCancellable add(std::vector<Handler>& list, std::function<void(bool)> handler) {
        auto entry = std::make_shared<Entry>(Entry{std::move(handler)});
        list.push_back(entry);
        return platform::AnyCancellable([entry] { entry->active = false; });
    }
    static void deliver(const std::vector<Handler>& list, bool value) {
        const auto copy = list;
        for (const auto& h : copy)
            if (h->active) h->fn(value);
    }
    static int live(const std::vector<Handler>& list) {
        int n = 0;
        for (const auto& h : list) n += h->active ? 1 : 0;
        return n;
    }
    std::vector<Handler> activeObservers_;
    std::vector<Handler> lockObservers_;
};

}  // namespace testsupport
