#pragma once

#include "platform/runtime/reactive.h"

#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

// The observers of a fake: each one is called, synchronously and in order, until its cancellable
// is cancelled or dropped.
template <class... Args>
class ObserverList {
public:
    using Observer = std::function<void(const Args&...)>;

    [[nodiscard]] platform::AnyCancellable add(Observer observer) {
        auto entry = std::make_shared<Entry>(Entry{std::move(observer)});
        entries_.push_back(entry);
        return platform::AnyCancellable([entry] { entry->active = false; });
    }

    void notify(const Args&... args) {
        const auto copy = entries_;
        for (const auto& entry : copy)
            if (entry->active) entry->fn(args...);
    }

    int activeCount() const {
        int n = 0;
        for (const auto& entry : entries_) n += entry->active ? 1 : 0;
        return n;
    }

private:
    struct Entry {
        Observer fn;
        bool active = true;
    };
    std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace testsupport
