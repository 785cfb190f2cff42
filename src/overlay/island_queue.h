#pragma once

// Turns detected notifications into the one published overlay state: expands or stacks each
// signal, counts them, hides the overlay once the display timeout has passed since its last
// update, and hides it at once when the user dismisses it. Owns no window; the window controller,
// the overlay view and the notch follow the state it publishes.

#include "core/event_bus.h"
#include "platform/storage/defaults.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

class IslandQueue {
public:
    // `defaults` nullptr reads the standard defaults at each use.
    explicit IslandQueue(EventBus& bus = EventBus::shared(),
                         platform::Scheduler& scheduler = platform::Scheduler::shared(),
                         platform::Defaults* defaults = nullptr);
    IslandQueue(const IslandQueue&) = delete;
    IslandQueue& operator=(const IslandQueue&) = delete;

    // Hides the overlay now (also when it is already hidden).
    void dismiss();

    // Ends following the bus and drops the pending hide: nothing is published any more.
    void stop();

    // A signal arriving more than this after the last expand expands; any other stacks.
    static constexpr double debounceWindow = 0.5;

private:
    void onSignal(const NotificationSignal& signal);
    void emitState(bool expand, const std::optional<QString>& message, const std::optional<QString>& sourceHint,
                   const std::optional<QByteArray>& appIconData, const std::optional<QString>& bundleId);
    void scheduleAutoHide();
    void armAutoHide(double delay);
    void autoHideFired();

    // The display time from the current setting: a stored value above 0, else 2 s, kept within
    // 0.1 ... 60 s.
    double displayDelay() const;
    QDateTime now() const;

    platform::CancellableSet cancellables;
    EventBus& bus;
    int64_t pendingCount = 0;
    // Time of the last expand; none stands for the distant past.
    std::optional<QDateTime> lastEmit;
    std::optional<platform::WorkItem> autoHideTask;

    platform::Scheduler& scheduler_;
    platform::Defaults* defaults_;
    platform::Lifetime lifetime_;
};
