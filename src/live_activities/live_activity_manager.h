#pragma once

// Decides which live activity the notch shows and for how long. The system-event services only ask
// (a type on the bus, or none to end the current one); this turns a request into the notch mode,
// keeps it for the type's time, restarts that time on a repeat, and at the end plays the exit and
// hands the notch back to the mode it had before the first activity of a chain.

#include "core/app_settings.h"
#include "core/event_bus.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <optional>

class LiveActivityManager {
public:
    static LiveActivityManager& shared();

    // Subscribes to nothing until start().
    explicit LiveActivityManager(EventBus& bus = EventBus::shared(),
                                 platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                 platform::Defaults* defaults = nullptr);
    LiveActivityManager(const LiveActivityManager&) = delete;
    LiveActivityManager& operator=(const LiveActivityManager&) = delete;

    void start();
    // Ends the subscription and every pending step; sends nothing on the bus.
    void stop();

    // Seconds an activity stays when it starts; none for the lock, which stays until an end request.
    static std::optional<double> showTime(LiveActivityType type);
    // Seconds it stays after a repeated request of the same type.
    static double refreshTime(LiveActivityType type);

    static constexpr double windowModeChangeDelayAfterContent = 0.3;

private:
    void setupObservers();
    void handleRequest(const std::optional<LiveActivityType>& request);
    void showActivity(LiveActivityType type);
    void scheduleDismiss(double seconds);
    void cancelDismiss();
    void dismissTimerFired();
    void dismissCurrentActivity();
    NotchMode determineReturnMode() const;

    EventBus& bus;
    bool isRunning = false;
    platform::CancellableSet cancellables;
    std::optional<platform::WorkItem> dismissWorkItem;
    std::optional<platform::WorkItem> modeChangeWorkItem;
    std::optional<LiveActivityType> currentActivityType;
    std::optional<NotchMode> previousNotchModeBeforeLiveActivity;
    // The mode the pending hand-back will send; a new activity inside that window returns there.
    std::optional<NotchMode> pendingReturnMode_;
    // When the current activity ends, and when the pending dismiss step is due (monotonic µs). A
    // step due no later than a new end is kept and re-armed for the rest, so a burst of requests
    // leaves one timer in the scheduler instead of one cancelled timer per request.
    int64_t dismissDeadlineMicros_ = 0;
    int64_t dismissDueMicros_ = 0;

    platform::Scheduler& scheduler_;
    AppSettings settings_;
    platform::Lifetime lifetime_;
};
