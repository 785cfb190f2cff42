#include "platform/notification_store/notification_list.h"

#include <QVariant>

#include <atomic>
#include <chrono>
#include <memory>
#include <utility>

namespace platform {

namespace {

std::atomic<NotificationList*> installed{nullptr};

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

// A daemon answers at once; one that does not is treated as having no list.
constexpr std::chrono::milliseconds kTimeout{3000};

}  // namespace

NotificationList& NotificationList::shared() {
    if (NotificationList* list = installed.load()) return *list;
    static auto* fallback = new DesktopNotificationList();
    return *fallback;
}

NotificationList* NotificationList::setShared(NotificationList* list) { return installed.exchange(list); }

std::optional<DBusCall> DesktopNotificationList::showCall(const QString& serverName) {
    const QString name = serverName.trimmed();
    const auto is = [&name](const char* known) { return name.compare(QLatin1String(known), Qt::CaseInsensitive) == 0; };
    // dunst re-displays the newest notification of its history (what `dunstctl history-pop` does).
    if (is("dunst"))
        return DBusCall{kNotifications, kNotificationsPath, QStringLiteral("org.dunstproject.cmd0"),
                        QStringLiteral("NotificationShow"), {}};
    // SwayNotificationCenter opens its control centre, which lists every notification.
    if (is("SwayNotificationCenter"))
        return DBusCall{QStringLiteral("org.erikreider.swaync.cc"), QStringLiteral("/org/erikreider/swaync/cc"),
                        QStringLiteral("org.erikreider.swaync.cc"), QStringLiteral("SetVisibility"), {true}};
    // mako brings back the newest dismissed notification (what `makoctl restore` does).
    if (is("mako"))
        return DBusCall{kNotifications, QStringLiteral("/fr/emersion/Mako"), QStringLiteral("fr.emersion.Mako"),
                        QStringLiteral("RestoreNotification"), {}};
    return std::nullopt;
}

void DesktopNotificationList::show(std::function<void(bool shown)> done) {
    auto finish = std::make_shared<std::function<void(bool)>>(std::move(done));
    const auto report = [finish](bool shown) {
        if (auto fn = std::exchange(*finish, nullptr)) fn(shown);
    };
    const DBusCall information{kNotifications, kNotificationsPath, kNotifications,
                               QStringLiteral("GetServerInformation"), {}};
    pending_ = bus().callAsync(information, kTimeout, [this, report](const DBusReply& reply) {
        const std::optional<DBusCall> call = reply.ok() ? showCall(reply.value(0).toString()) : std::nullopt;
        if (!call) {
            report(false);
            return;
        }
        pending_ = bus().callAsync(*call, kTimeout, [report](const DBusReply& shown) { report(shown.ok()); });
    });
}

}  // namespace platform
