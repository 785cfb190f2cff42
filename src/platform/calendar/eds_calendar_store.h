#pragma once

#include "platform/calendar/calendar_store.h"
#include "platform/runtime/dispatch.h"

#include <memory>

namespace platform {

// The desktop's calendars through Evolution Data Server. Linux has no per-application calendar
// gate, so a reachable store is full access; without a session bus or a source registry the
// status stays notDetermined, problem() says why, and asking again tries to reach it. Called on
// the main thread, except events(), which blocks and belongs on a worker. The registry is reached
// (on every status read until it is), the calendars queried and the live views opened on a GLib
// thread of the store's own, which also receives the change notices; observers hear of them on
// the main thread.
class EdsCalendarStore final : public CalendarStore {
public:
    explicit EdsCalendarStore(Scheduler& scheduler = Scheduler::shared());
    ~EdsCalendarStore() override;
    EdsCalendarStore(const EdsCalendarStore&) = delete;
    EdsCalendarStore& operator=(const EdsCalendarStore&) = delete;

    CalendarAuthorizationStatus authorizationStatus() override;
    bool statusPending() override;
    AnyCancellable observeStatus(std::function<void()> handler) override;
    void requestFullAccess(std::function<void(bool, std::optional<QString>)> completion) override;
    int eventCalendarCount() override;
    std::vector<StoreEvent> events(const QDateTime& start, const QDateTime& end) override;
    AnyCancellable observeChanges(std::function<void()> handler) override;
    std::optional<CalendarStoreProblem> problem() override;

    // Why the store could not be reached last time, for diagnostics.
    QString lastError() const;

private:
    void collectEvents(const QDateTime& start, const QDateTime& end, std::vector<StoreEvent>& events);

    struct Impl;
    std::shared_ptr<Impl> impl_;  // shared so an observation handle can outlive the store
};

}  // namespace platform
