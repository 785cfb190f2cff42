#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include <optional>

// Finds the icon of the application behind a notification, from its bundle identifier, its
// display name or both, and the accent colour of an image. Unless told to remember, every call
// runs the whole lookup.
class AppIconHelper {
public:
    // The icon of the application with this bundle identifier: a running instance first, then
    // the installed application.
    static std::optional<QImage> getIconForBundleId(const QString& bundleId);
    // The full lookup: bundle identifier, then ever looser matches of the name against the
    // running applications, then the desktop entries of the data folders. Absent and empty count
    // alike.
    static std::optional<QImage> getIcon(const std::optional<QString>& appName, const std::optional<QString>& bundleId);
    // The icon a notification's sender named by its name in the icon theme (no path is ever
    // read here). Absent for an empty name, a path, or a name the theme does not hold.
    static std::optional<QImage> getIconForThemedName(const QString& name);
    // The bell shown when no icon is found.
    static QImage getDefaultNotificationIcon();
    // The average colour of the image's vivid pixels, sampled at 16 by 16; absent when none is vivid.
    static std::optional<QColor> dominantColor(const QImage& image);

    // Remembers each bundle identifier's and each name's answer, a missing icon included, until an
    // applications folder changes: a notification then costs no lookup for an application seen
    // before. Off unless turned on (the running application turns it on). Turning it off forgets.
    static void setRemembering(bool remembering);

    // The folder the data folders' application entries are looked up under; "/" unless a test
    // points it elsewhere. Returns the previous one.
    static QString setRoot(const QString& root);
    static QString root();

private:
    // The name steps of the full lookup.
    static std::optional<QImage> getIconForName(const QString& name);
};
