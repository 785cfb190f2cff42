#pragma once

#include "platform/distributed_notifications/distributed_notification_center.h"
#include "support/observer_list.h"

namespace testsupport {

// Notices the test posts by hand, synchronously, to every live observer.
class FakeDistributedNotificationCenter final : public platform::DistributedNotificationCenter {
public:
    [[nodiscard]] platform::AnyCancellable observeAll(Observer observer) override { return observers_.add(std::move(observer)); }

    void post(const QString& name) { observers_.notify(name); }
    int observerCount() const { return observers_.activeCount(); }

private:
    ObserverList<QString> observers_;
};

}  // namespace testsupport
