#include "permissions/notification_database_locations.h"

#include <array>

namespace {

// Entries starting with "~" live under the user's home; the others are absolute.
constexpr std::array<const char*, 12> kCandidates = {
    "~/Library/Group Containers/group.com.apple.usernoted/db2/db",
    "~/Library/Group Containers/group.com.apple.usernoted/db/db",
    "~/Library/Application Support/NotificationCenter/db2/db",
    "~/Library/Application Support/NotificationCenter/db/db",
    "~/Library/Application Support/com.apple.notificationcenter/db2/db",
    "~/Library/Application Support/com.apple.notificationcenter/db/db",
    "~/Library/UserNotifications/db",
    "~/Library/UserNotifications/db2/db",
    "~/Library/UserNotifications/Store/db",
    "~/Library/Application Support/UserNotifications/db",
    "/var/db/NotificationCenter/db",
    "/private/var/db/NotificationCenter/db",
};

}  // namespace

NotificationDatabaseLocations::Home NotificationDatabaseLocations::resolveHome(const platform::UserDirectories& directories) {
    Home home;
    home.fileManagerHome = directories.homeDirectory();
    home.passwordHome = directories.passwordDatabaseHome();
    home.isSandboxed =
        directories.hasSandboxContainerId() || home.fileManagerHome.contains(QStringLiteral("/Library/Containers/"));
    home.resolved = home.isSandboxed && !home.passwordHome.isEmpty() ? home.passwordHome : home.fileManagerHome;
    return home;
}

QStringList NotificationDatabaseLocations::fixedCandidates(const QString& home) {
    QStringList paths;
    for (const char* entry : kCandidates) {
        QString text = QString::fromLatin1(entry);
        paths << (text.startsWith(u'~') ? home + text.mid(1) : text);
    }
    return paths;
}

QStringList NotificationDatabaseLocations::fixedCandidatesByComponents(const QString& home) {
    QStringList paths;
    for (const char* entry : kCandidates) {
        QString text = QString::fromLatin1(entry);
        paths << (text.startsWith(u'~') ? appendingPathComponents(home, text.mid(2)) : text);
    }
    return paths;
}

QString NotificationDatabaseLocations::appendingPathComponents(const QString& base, const QString& relative) {
    if (base.endsWith(u'/')) return base + relative;
    return base + u'/' + relative;
}
