#pragma once

#include "platform/window_shape/compositor.h"

#include <functional>
#include <map>
#include <memory>

namespace testsupport {

// Stands in for the display's compositing manager, which a test starts and stops. Observers may
// outlive it (the view under test goes last).
class FakeCompositor final : public platform::CompositorWatch {
public:
    explicit FakeCompositor(bool active) : active_(active), previous_(setShared(this)) {}
    ~FakeCompositor() override { setShared(previous_); }

    bool isActive() override { return active_; }
    platform::AnyCancellable observe(std::function<void()> handler) override {
        const int id = next_++;
        observers_->emplace(id, std::move(handler));
        return platform::AnyCancellable([weak = std::weak_ptr(observers_), id] {
            if (auto observers = weak.lock()) observers->erase(id);
        });
    }
    void set(bool active) {
        active_ = active;
        for (auto& [id, handler] : *observers_) handler();
    }

private:
    bool active_;
    CompositorWatch* previous_;
    std::shared_ptr<std::map<int, std::function<void()>>> observers_ =
        std::make_shared<std::map<int, std::function<void()>>>();
    int next_ = 0;
};

}  // namespace testsupport
