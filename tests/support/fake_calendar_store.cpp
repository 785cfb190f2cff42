#include "support/fake_calendar_store.h"

#include "platform/runtime/dispatch.h"

#include <set>

namespace testsupport {

FakeCalendarStore::FakeCalendarStore() : previous_(platform::CalendarStore::setShared(this)) {}

FakeCalendarStore::~FakeCalendarStore() { platform::CalendarStore::setShared(previous_); }

void FakeCalendarStore::tell(const Observers& observers) {
    auto current = observers;
    for (auto& [id, handler] : current) handler();
}

void FakeCalendarStore::postChange() { tell(observers_); }

void FakeCalendarStore::answer(platform::CalendarAuthorizationStatus settled) {
    status = settled;
    pending = false;
    tell(*statusObservers_);
}

platform::CalendarAuthorizationStatus FakeCalendarStore::authorizationStatus() {
    ++statusReads;
    return status;
}

void FakeCalendarStore::requestFullAccess(std::function<void(bool, std::optional<QString>)> completion) {
    ++requests;
    if (requestError) {
        platform::Scheduler::shared().post(
            [completion = std::move(completion), error = *requestError] { completion(false, error); });
        return;
    }
    if (grantOnRequest) {
        status = platform::CalendarAuthorizationStatus::fullAccess;
    } else if (statusAfterRefusal) {
        status = *statusAfterRefusal;
    }
    const bool granted = status == platform::CalendarAuthorizationStatus::fullAccess;
    platform::Scheduler::shared().post(
        [completion = std::move(completion), granted] { completion(granted, std::nullopt); });
}

int FakeCalendarStore::eventCalendarCount() {
    std::set<QString> titles;
    for (const auto& event : storedEvents) {
        if (event.calendar) titles.insert(event.calendar->title);
    }
    return static_cast<int>(titles.size());
}

std::vector<platform::StoreEvent> FakeCalendarStore::events(const QDateTime& start, const QDateTime& end) {
    queries.emplace_back(start, end);
    return storedEvents;
}

platform::AnyCancellable FakeCalendarStore::observeChanges(std::function<void()> handler) {
    return add(observersHolder_, std::move(handler));
}

platform::AnyCancellable FakeCalendarStore::observeStatus(std::function<void()> handler) {
    return add(statusObservers_, std::move(handler));
}

platform::AnyCancellable FakeCalendarStore::add(const std::shared_ptr<Observers>& holder, std::function<void()> handler) {
    const int id = nextObserver_++;
    holder->emplace_back(id, std::move(handler));
    return platform::AnyCancellable([weak = std::weak_ptr(holder), id] {
        if (auto observers = weak.lock()) std::erase_if(*observers, [id](const auto& entry) { return entry.first == id; });
    });
}

platform::StoreEvent storeEvent(const QString& id, const QDateTime& start) {
    platform::StoreEvent event;
    event.identifier = id;
    event.title = QStringLiteral("Event ") + id;
    event.calendar = platform::StoreCalendar{QStringLiteral("Home"), QStringLiteral("#00ff00")};
    event.startDate = start;
    event.endDate = start.addSecs(3600);
    return event;
}

}  // namespace testsupport
