#pragma once

#include "platform/input_source/fcitx5_engine_watch.h"
#include "platform/input_source/ibus_engine_watch.h"
#include "platform/input_source/input_sources.h"

#include <map>
#include <memory>

namespace platform {

// The desktop's input source: the input method in use when an input method framework runs
// (Fcitx5's, else IBus's global engine, each of which also stands for the plain keyboard
// layouts), else the keyboard's own layout group. The frameworks are watched from the first
// observation on, for good: an engine's mode is heard only as the engine publishes it, so one
// that had to be heard afresh at each observation would be unknown until the next change.
// Fcitx5's controller is asked only while someone observes.
class DesktopInputSources final : public InputSources {
public:
    DesktopInputSources(std::unique_ptr<InputSources> keyboard, DBusConnection& sessionBus = DBusConnection::session(),
                        Scheduler& scheduler = Scheduler::shared(), IBusEngineWatch::Lookup ibusLookup = {});
    ~DesktopInputSources() override;
    DesktopInputSources(const DesktopInputSources&) = delete;
    DesktopInputSources& operator=(const DesktopInputSources&) = delete;

    std::optional<InputSource> currentSource() override;
    [[nodiscard]] AnyCancellable observeSelectionChanges(std::function<void()> handler) override;
    // Once both frameworks have answered since the observation began.
    [[nodiscard]] AnyCancellable whenSettled(std::function<void()> ready) override;

    const IBusEngineWatch& ibus() const { return ibus_; }
    const Fcitx5EngineWatch& fcitx5() const { return fcitx5_; }

private:
    void notify();
    bool isSettled() const;
    void answered();

    std::unique_ptr<InputSources> keyboard_;
    IBusEngineWatch ibus_;
    Fcitx5EngineWatch fcitx5_;
    using Handlers = std::map<uint64_t, std::shared_ptr<std::function<void()>>>;
    std::shared_ptr<Handlers> handlers_ = std::make_shared<Handlers>();
    uint64_t nextHandler_ = 0;
    bool watching_ = false;
    std::shared_ptr<Handlers> waiting_ = std::make_shared<Handlers>();
    AnyCancellable keyboardObservation_;
    Lifetime lifetime_;
};

}  // namespace platform
