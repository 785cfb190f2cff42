#include "platform/input_source/desktop_input_sources.h"

#include <utility>
#include <vector>

namespace platform {

DesktopInputSources::DesktopInputSources(std::unique_ptr<InputSources> keyboard, DBusConnection& sessionBus,
                                         Scheduler& scheduler, IBusEngineWatch::Lookup ibusLookup)
    : keyboard_(std::move(keyboard)), ibus_(sessionBus, scheduler, std::move(ibusLookup)), fcitx5_(sessionBus, scheduler) {}

DesktopInputSources::~DesktopInputSources() {
    lifetime_.reset();
    ibus_.stop();
    fcitx5_.stop();
}

std::optional<InputSource> DesktopInputSources::currentSource() {
    if (const auto& engine = fcitx5_.engine()) {
        InputSource source = inputSourceFor(*engine, fcitx5_.mode(), fcitx5_.canTellMode());
        source.modeRestated = fcitx5_.isModeRestated();
        return source;
    }
    if (const auto& engine = ibus_.engine()) {
        InputSource source = inputSourceFor(*engine, ibus_.mode());
        source.modeRestated = ibus_.isModeRestated();
        return source;
    }
    return keyboard_->currentSource();
}

AnyCancellable DesktopInputSources::observeSelectionChanges(std::function<void()> handler) {
    const uint64_t id = nextHandler_++;
    handlers_->emplace(id, std::make_shared<std::function<void()>>(std::move(handler)));
    if (handlers_->size() == 1) {
        watching_ = true;
        keyboardObservation_ = keyboard_->observeSelectionChanges(lifetime_.wrap([this] { notify(); }));
        ibus_.start(lifetime_.wrap([this] { notify(); }), lifetime_.wrap([this] { answered(); }));
        fcitx5_.start(lifetime_.wrap([this] { notify(); }), lifetime_.wrap([this] { answered(); }));
    }
    std::weak_ptr<Handlers> weak = handlers_;
    return AnyCancellable(lifetime_.wrap([this, weak, id] {
        auto handlers = weak.lock();
        if (!handlers || !handlers->erase(id) || !handlers->empty()) return;
        // Nobody listens: no questions to Fcitx5. The signals the frameworks send keep the
        // engine and its mode known.
        keyboardObservation_.cancel();
        fcitx5_.pause();
    }));
}

bool DesktopInputSources::isSettled() const { return !watching_ || (ibus_.hasAnswered() && fcitx5_.hasAnswered()); }

AnyCancellable DesktopInputSources::whenSettled(std::function<void()> ready) {
    if (isSettled()) {
        ready();
        return AnyCancellable();
    }
    const uint64_t id = nextHandler_++;
    waiting_->emplace(id, std::make_shared<std::function<void()>>(std::move(ready)));
    std::weak_ptr<Handlers> weak = waiting_;
    return AnyCancellable([weak, id] {
        if (auto waiting = weak.lock()) waiting->erase(id);
    });
}

void DesktopInputSources::answered() {
    if (!isSettled()) return;
    const Handlers ready = std::exchange(*waiting_, {});
    for (const auto& [id, handler] : ready) (*handler)();
}

void DesktopInputSources::notify() {
    // A handler may cancel itself or another: call copies of the live ones.
    std::vector<std::shared_ptr<std::function<void()>>> handlers;
    for (const auto& [id, handler] : *handlers_) handlers.push_back(handler);
    for (const auto& handler : handlers) {
        bool live = false;
        for (const auto& [id, h] : *handlers_) live = live || h == handler;
        if (live) (*handler)();
    }
}

}  // namespace platform
