#pragma once

// One notification as an application sent it on the session bus, by any of the three roads a
// Linux desktop offers: org.freedesktop.Notifications.Notify, org.gtk.Notifications
// (GNotification while the desktop owns that name) and the desktop portal (sandboxed
// applications).

#include "platform/notification_store/sender_icon.h"

#include <QString>
#include <QtGlobal>

#include <chrono>
#include <optional>
#include <vector>

class QDBusMessage;

namespace platform {

// The parts of one call the store keeps, each cut to a bound (below) on a character boundary so
// that every stored record stays small enough to be read back.
struct DesktopNotification {
    static constexpr qsizetype maxTextBytes = 16 * 1024;  // summary and body, as UTF-8
    static constexpr qsizetype maxNameBytes = 255;        // application name and desktop entry

    enum class Road { notify, gtk, portal };

    QString appName;
    QString summary;
    QString body;
    QString desktopEntry;  // the "desktop-entry" hint, or the GNotification application id
    Road road = Road::notify;
    QString sender;        // the caller's unique bus name
    std::chrono::steady_clock::time_point received;
    // What the sender named as its icon, most preferred first; resolved off the receiving thread.
    std::vector<IconSource> iconSources;
    StoredIcon icon;

    // The store's application identifier: the desktop entry, else the application name.
    QString bundleIdentifier() const;
};

// The calls a recorder asks the bus for: the adding calls of the three roads. Removals and
// every other call are never recorded (the store keeps history).
QStringList notificationMatchRules();

// The notification in a copied call of any road; none for any other message or signature.
// Texts are cut here, before anything copies them.
std::optional<DesktopNotification> parseNotificationCall(const QDBusMessage& message);

// The longest start of `text` that takes at most `maxBytes` in UTF-8, never splitting a
// surrogate pair.
QString cutToUtf8(const QString& text, qsizetype maxBytes);

}  // namespace platform
