#pragma once

// Notices when the user switches the keyboard input source and announces the new one: the source
// on the bus, then the input-source activity. A notice after which the source is the same as
// before announces nothing.

#include "core/event_bus.h"
#include "platform/input_source/input_sources.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QString>

#include <optional>

class InputSourceService {
public:
    static InputSourceService& shared();

    explicit InputSourceService(EventBus& bus = EventBus::shared(),
                                platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                platform::InputSources& sources = platform::InputSources::shared());
    InputSourceService(const InputSourceService&) = delete;
    InputSourceService& operator=(const InputSourceService&) = delete;

    void start();
    // Always runs and logs, running or not.
    void stop();

    bool isRunning() const { return isRunning_; }
    const std::optional<QString>& lastSourceID() const { return lastSourceID_; }

    // The selected source may have changed.
    void inputSourceChanged();

private:
    std::optional<QString> currentSourceID();
    QString currentSourceName();

    EventBus& bus;
    platform::Scheduler& scheduler_;
    platform::InputSources& sources_;
    bool isRunning_ = false;
    std::optional<QString> lastSourceID_;
    platform::AnyCancellable observer_;
    platform::Lifetime lifetime_;
};
