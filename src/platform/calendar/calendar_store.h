#pragma once

#include "platform/runtime/reactive.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

// Access to the user's calendars, by the raw values the desktop's privacy gate uses.
enum class CalendarAuthorizationStatus {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    fullAccess = 3,
    writeOnly = 4,
};

// Why the store cannot be read: there is no session bus to reach it on, no calendar service is
// installed on the bus, or the service is there but did not answer.
enum class CalendarStoreProblem { noSessionBus, notInstalled, unreachable };

// The calendar an event belongs to.
struct StoreCalendar {
    QString title;
    std::optional<QString> color;  // a colour text such as "#ff0000"; absent when the calendar has none
};

// One occurrence of an event as the store gives it. Fields the store lacks stay absent.
struct StoreEvent {
    std::optional<QString> identifier;  // distinct per occurrence of a recurring event
    std::optional<QString> title;
    std::optional<StoreCalendar> calendar;
    std::optional<QDateTime> startDate;
    std::optional<QDateTime> endDate;
    bool isAllDay = false;
    std::optional<QString> location;
};

// The desktop's shared calendar store.
class CalendarStore {
public:
    virtual ~CalendarStore() = default;

    // The process-wide store (the desktop's unless a test installed another).
    static CalendarStore& shared();
    // Installs `store` as shared (nullptr restores the default); returns the previous one.
    static CalendarStore* setShared(CalendarStore* store);

    // Never waits: while the store is still being reached it reads notDetermined and
    // statusPending() is true.
    virtual CalendarAuthorizationStatus authorizationStatus() = 0;
    // Whether the status is still being worked out; observeStatus() tells when it is settled.
    virtual bool statusPending() { return false; }
    // Calls `handler` on the main thread each time an attempt to reach the store ends (the status
    // may have changed), until the returned handle is cancelled.
    virtual AnyCancellable observeStatus(std::function<void()>) { return AnyCancellable(); }
    // Why the store could not be read at the last status read or request; none when it could, or
    // when the store gates access by a permission of its own instead.
    virtual std::optional<CalendarStoreProblem> problem() { return std::nullopt; }
    // Asks for full access; `completion(granted, errorText)` runs on the main thread.
    virtual void requestFullAccess(std::function<void(bool, std::optional<QString>)> completion) = 0;
    // The calendars that hold events.
    virtual int eventCalendarCount() = 0;

    // Every occurrence overlapping [start, end) across all calendars, recurrences expanded, in the
    // store's order. Blocks the calling thread: call it from a worker (any thread).
    virtual std::vector<StoreEvent> events(const QDateTime& start, const QDateTime& end) = 0;

    // Calls `handler` on the main thread whenever anything in the store changes (events or
    // calendars), until the returned handle is cancelled.
    virtual AnyCancellable observeChanges(std::function<void()> handler) = 0;
};

}  // namespace platform
