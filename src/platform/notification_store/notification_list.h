#pragma once

// The list of past notifications that the desktop's notification daemon keeps, opened on the
// daemon that serves org.freedesktop.Notifications now. Which daemon that is comes from its
// GetServerInformation; the daemons with a call that brings their list (or its newest entry) back
// on screen are dunst, SwayNotificationCenter and mako. Others have none.

#include "platform/dbus/dbus_connection.h"
#include "platform/runtime/reactive.h"

#include <QString>

#include <functional>
#include <optional>

namespace platform {

class NotificationList {
public:
    virtual ~NotificationList() = default;

    // The process-wide list (the desktop's unless a test installed another).
    static NotificationList& shared();
    // Installs `list` (nullptr restores the default); returns the previous one.
    static NotificationList* setShared(NotificationList* list);

    // Asks the running daemon to show its list. `done` runs once on the main thread with whether
    // a daemon took the request; false when none runs or it has no such call.
    virtual void show(std::function<void(bool shown)> done) = 0;
};

class DesktopNotificationList final : public NotificationList {
public:
    // `bus` nullptr: the session bus at each use.
    explicit DesktopNotificationList(DBusConnection* bus = nullptr) : bus_(bus) {}

    void show(std::function<void(bool shown)> done) override;

    // The call that shows the list of the daemon that names itself `serverName`; none for a
    // daemon without one.
    static std::optional<DBusCall> showCall(const QString& serverName);

private:
    DBusConnection& bus() const { return bus_ ? *bus_ : DBusConnection::session(); }

    DBusConnection* bus_;
    // The request in flight; a newer one replaces it.
    AnyCancellable pending_;
};

}  // namespace platform
