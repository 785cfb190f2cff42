#pragma once

#include "platform/notification_store/notification_list.h"

namespace testsupport {

// A notification daemon whose list shows (or not) as a test says, answering at once. Installs
// itself as the shared list while alive.
class FakeNotificationList final : public platform::NotificationList {
public:
    FakeNotificationList() : previous_(platform::NotificationList::setShared(this)) {}
    ~FakeNotificationList() override { platform::NotificationList::setShared(previous_); }
    FakeNotificationList(const FakeNotificationList&) = delete;
    FakeNotificationList& operator=(const FakeNotificationList&) = delete;

    void show(std::function<void(bool shown)> done) override {
        ++shows;
        done(hasList);
    }

    bool hasList = false;
    int shows = 0;

private:
    platform::NotificationList* previous_;
};

}  // namespace testsupport
