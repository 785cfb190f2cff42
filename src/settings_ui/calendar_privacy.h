#pragma once

// The road to the calendar privacy settings when the system's prompt cannot give access, and the
// two alerts that tell the user what to do there. Each logs with the caller's context.

#include "settings_environment.h"

#include <QString>
#include <QStringList>

namespace CalendarPrivacy {

// The scripts tried in order, then the URLs, then the settings application by bundle identifier.
QStringList revealScripts();
QStringList settingsUrls();
inline const QString settingsBundleIdentifier = QStringLiteral("com.apple.systempreferences");

constexpr double guideDelay = 0.35;
constexpr double unsignedAlertDelay = 0.2;

}  // namespace CalendarPrivacy

// Tries each way of opening the privacy settings until one works; every road ends with exactly
// one guidance alert.
void openCalendarPrivacySettings(const SettingsEnvironment& environment, const QString& context);
// Logs, then shows the guidance alert 0.35 s later.
void showCalendarPrivacyGuide(const SettingsEnvironment& environment, const QString& context);
// Logs, then shows the unsigned-build alert 0.2 s later.
void showUnsignedCalendarPermissionAlert(const SettingsEnvironment& environment, const QString& context);
