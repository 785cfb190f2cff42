#pragma once

#include "platform/input_source/input_sources.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace testsupport {

// Scripted input sources: the test sets the current source and fires change notices.
class FakeInputSources final : public platform::InputSources {
public:
    std::optional<platform::InputSource> current;

    std::optional<platform::InputSource> currentSource() override {
        ++reads;
        return current;
    }
    [[nodiscard]] platform::AnyCancellable observeSelectionChanges(std::function<void()> handler) override {
        const uint64_t id = next_++;
        observers_->emplace(id, std::make_shared<std::function<void()>>(std::move(handler)));
        std::weak_ptr<Observers> weak = observers_;
        return platform::AnyCancellable([weak, id] {
            if (auto live = weak.lock()) live->erase(id);
        });
    }

    // Makes `source` current and tells the observers.
    void select(std::optional<platform::InputSource> source) {
        current = std::move(source);
        notify();
    }
    void notify() {
        auto copy = *observers_;
        for (auto& [id, handler] : copy) (*handler)();
    }
    int observerCount() const { return static_cast<int>(observers_->size()); }

    static platform::InputSource source(const QString& id, const QString& name) { return {id, name}; }

    int reads = 0;

private:
    using Observers = std::map<uint64_t, std::shared_ptr<std::function<void()>>>;
    std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
    uint64_t next_ = 0;
};

}  // namespace testsupport
