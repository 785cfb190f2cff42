#pragma once

#include "core/event_bus.h"
#include "core/glance_records.h"
#include "platform/calendar/calendar_store.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QDateTime>

#include <optional>
#include <utility>

// Publishes the user's calendar events from three weeks back to six weeks ahead, sorted by start,
// on the bus: at start, every five minutes and a second after the store reports a change. The
// store is queried on a worker; the list is published on the main thread.
class CalendarService {
public:
    // The process-wide service, created on first use.
    static CalendarService& shared();

    explicit CalendarService(platform::CalendarStore& store = platform::CalendarStore::shared(),
                             EventBus& bus = EventBus::shared(),
                             platform::Scheduler& scheduler = platform::Scheduler::shared());
    CalendarService(const CalendarService&) = delete;
    CalendarService& operator=(const CalendarService&) = delete;

    // Starts when not running and full calendar access is granted; otherwise logs and stays stopped.
    void start();
    // Stops in any state. The list already published stays on the bus.
    void stop();
    bool isRunning() const { return isRunning_; }

    // (red, green, blue) of a calendar colour text; the default blue when absent or unreadable.
    static CalendarEvent::CalendarColor colorComponents(const std::optional<QString>& color);
    // [start of today - 21 days, start of today + 42 days) in the local zone; absent when a
    // boundary does not exist there.
    static std::optional<std::pair<QDateTime, QDateTime>> fetchWindow(const QDateTime& now);

private:
    void fetchEvents();
    void startRefreshTimer();
    void observeCalendarChanges();

    platform::CalendarStore& store_;
    EventBus& bus_;
    platform::Scheduler& scheduler_;
    platform::RepeatingTimer timer_;
    bool isRunning_ = false;
    platform::CancellableSet cancellables_;
    platform::Lifetime lifetime_;  // the timer, the debounced refetch and a fetch under way hold the service weakly
};
