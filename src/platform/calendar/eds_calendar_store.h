#pragma once

#include "platform/calendar/calendar_store.h"

#include <memory>

namespace platform {

// The desktop's calendars through Evolution Data Server. Linux has no per-application calendar
// gate, so a reachable store is full access; without a session bus or a source registry the
// status stays notDetermined, problem() says why, and asking again tries to reach it. Called on
// the main thread, except events(), which blocks and belongs on a worker;
// the registry is reached (on every status read until it is) and the live views opened on
// workers, and change notices arrive on the GLib main context, which the Qt event loop runs here.
class EdsCalendarStore final : public CalendarStore {
public:
    EdsCalendarStore();
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
    struct Impl;
    std::shared_ptr<Impl> impl_;  // shared so an observation handle can outlive the store
};

}  // namespace platform
