#pragma once

// Notices when the user switches the keyboard input source and announces the new one: the source
// on the bus, then the input-source activity. A notice after which the source is the same as
// before announces nothing.
//
// The source it starts from is the one the sources settled on (an input method framework's engine
// and mode, once it answered), and the start line waits for it. Where that engine's mode is not
// known yet, the mode it later tells as the one it stands in is no switch. Changes are announced
// once the sources have been quiet for `quietDelay`: one switch, whose engine and mode a framework
// tells in separate signals, is one announcement, and a flood of changes is one once it is over.

#include "core/event_bus.h"
#include "platform/input_source/input_sources.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QString>

#include <optional>

class InputSourceService {
public:
    static constexpr double quietDelay = 0.2;

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
    // Running, and the source it started from read.
    bool isStarted() const { return isStarted_; }
    const std::optional<QString>& lastSourceID() const { return lastSourceID_; }

    // The selected source may have changed.
    void inputSourceChanged();

private:
    std::optional<QString> currentSourceID();
    QString currentSourceName();
    void settled();
    void quietCheck();
    void announceCurrent();

    EventBus& bus;
    platform::Scheduler& scheduler_;
    platform::InputSources& sources_;
    bool isRunning_ = false;
    bool isStarted_ = false;
    std::optional<QString> lastSourceID_;
    // The source started from is an engine whose mode was unheard, and nothing changed since.
    bool startModeUnheard_ = false;
    // The last change notice (monotonic microseconds), and the check that waits for quiet.
    int64_t lastNoticeMicros_ = 0;
    std::optional<platform::WorkItem> quietCheck_;
    platform::AnyCancellable observer_;
    platform::AnyCancellable settling_;
    platform::Lifetime lifetime_;
};
