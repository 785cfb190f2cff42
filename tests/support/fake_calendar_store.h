#pragma once

#include "platform/calendar/calendar_store.h"

#include <QDateTime>

#include <utility>
#include <vector>

namespace testsupport {

// A scriptable calendar store: the status and the events are set by the test, every query's window
// is recorded, and postChange() plays the store's change notice. Installs itself as shared while alive.
class FakeCalendarStore final : public platform::CalendarStore {
public:
    FakeCalendarStore();
    ~FakeCalendarStore() override;
    FakeCalendarStore(const FakeCalendarStore&) = delete;
    FakeCalendarStore& operator=(const FakeCalendarStore&) = delete;

    platform::CalendarAuthorizationStatus status = platform::CalendarAuthorizationStatus::fullAccess;
    bool grantOnRequest = true;
    // A refused request sets this status when given (else the status stays as it was).
    std::optional<platform::CalendarAuthorizationStatus> statusAfterRefusal;
    // A request that fails outright with this error text instead of answering.
    std::optional<QString> requestError;
    int requests = 0;
    std::vector<platform::StoreEvent> storedEvents;
    std::vector<std::pair<QDateTime, QDateTime>> queries;  // each events() window
    int statusReads = 0;
    // Why the store cannot be read, as problem() reports it.
    std::optional<platform::CalendarStoreProblem> storeProblem;

    // While set, the status is still being worked out; answer() settles it and tells the status observers.
    bool pending = false;
    void answer(platform::CalendarAuthorizationStatus settled);

    void postChange();
    int observerCount() const { return static_cast<int>(observers_.size()); }

    platform::CalendarAuthorizationStatus authorizationStatus() override;
    void requestFullAccess(std::function<void(bool, std::optional<QString>)> completion) override;
    std::optional<platform::CalendarStoreProblem> problem() override { return storeProblem; }
    int eventCalendarCount() override;
    std::vector<platform::StoreEvent> events(const QDateTime& start, const QDateTime& end) override;
    platform::AnyCancellable observeChanges(std::function<void()> handler) override;
    bool statusPending() override { return pending; }
    platform::AnyCancellable observeStatus(std::function<void()> handler) override;

private:
    using Observers = std::vector<std::pair<int, std::function<void()>>>;
    platform::AnyCancellable add(const std::shared_ptr<Observers>& holder, std::function<void()> handler);
    static void tell(const Observers& observers);

    std::shared_ptr<Observers> observersHolder_ = std::make_shared<Observers>();
    std::shared_ptr<Observers> statusObservers_ = std::make_shared<Observers>();
    Observers& observers_ = *observersHolder_;
    int nextObserver_ = 0;
    platform::CalendarStore* previous_;
};

// An event of calendar "Home" with the given start, lasting an hour.
platform::StoreEvent storeEvent(const QString& id, const QDateTime& start);

}  // namespace testsupport
