#pragma once

#include "platform/calendar/calendar_store.h"
#include "platform/runtime/reactive.h"

#include <functional>
#include <optional>

// The notch features (notch window, now playing, hover, live activities, lyrics, media hotkeys,
// calendar, weather, app switcher) as the delegate starts and stops them. The delegate keeps the
// switch checks, the order and the log lines; an implementation owns the services it starts and
// holds the ones the delegate would hold while the features run.
class NotchFeatures {
public:
    virtual ~NotchFeatures() = default;

    // Builds the notch window at the notch, takes the notch state manager, starts the now-playing
    // service, the hover detector, the system-event services, the live-activity manager (logging
    // "LiveActivityManager: Started" once its observers are set up), the lyrics service and the
    // media-hotkey service, in that order.
    virtual void startCoreServices() = 0;
    virtual void startCalendarService() = 0;
    virtual void startWeatherService() = 0;
    virtual void startAppSwitcherService() = 0;
    // Whether the user granted full calendar access. Never waits: while the answer is still on its
    // way (isCalendarAccessPending) it reads false.
    virtual bool isCalendarAccessGranted() const = 0;
    virtual bool isCalendarAccessPending() const { return false; }
    // Calls `handler` on the main thread whenever an answer about calendar access arrives, until
    // the returned handle is cancelled.
    virtual platform::AnyCancellable observeCalendarAccess(std::function<void()>) { return {}; }
    // Why the calendar store is out of reach (no session bus, no store on it, no answer from it),
    // which no request from the settings window can change; none when it answered.
    virtual std::optional<platform::CalendarStoreProblem> calendarStoreProblem() const { return std::nullopt; }

    // Stops every service, held or not, clears the held ones, closes the notch window and drops
    // it. Safe when nothing runs.
    virtual void stopAll() = 0;
    // The application ends: work still starting (a helper's launch) is given up, not failed.
    virtual void prepareForExit() {}

    // The notch window of the last start, while it is held.
    virtual bool hasNotchWindowController() const = 0;
    // Closes the notch window and drops its controller.
    virtual void releaseNotchWindowController() = 0;
};

// No notch feature exists yet: nothing starts, and calendar access is never granted here.
class EmptyNotchFeatures final : public NotchFeatures {
public:
    void startCoreServices() override {}
    void startCalendarService() override {}
    void startWeatherService() override {}
    void startAppSwitcherService() override {}
    bool isCalendarAccessGranted() const override { return false; }
    void stopAll() override {}
    bool hasNotchWindowController() const override { return false; }
    void releaseNotchWindowController() override {}
};
