#include "calendar_privacy.h"

#include "calendar_permission.h"
#include "core/l10n.h"
#include "core/log.h"
#include "platform/scripting/scripting.h"
#include "platform/shell/alert_presenter.h"

#include <QUrl>

namespace {

QString revealScript(const QString& application, const QString& pane) {
    return QStringLiteral("tell application \"") + application + QStringLiteral("\"\n    activate\n    reveal pane id \"") +
           pane + QStringLiteral("\"\nend tell");
}

void presentAlert(platform::Alert::Style style, const QString& message, const QString& informative) {
    platform::Alert alert;
    alert.style = style;
    alert.messageText = message;
    alert.informativeText = informative;
    alert.buttons = {QStringLiteral("OK")};
    platform::AlertPresenter::shared().present(std::move(alert));
}

}  // namespace

namespace CalendarPrivacy {

QStringList revealScripts() {
    return {
        revealScript(QStringLiteral("System Settings"), QStringLiteral("com.apple.settings.PrivacySecurity.extension")),
        revealScript(QStringLiteral("System Settings"), QStringLiteral("com.apple.preference.security")),
        revealScript(QStringLiteral("System Preferences"), QStringLiteral("com.apple.preference.security")),
    };
}

QStringList settingsUrls() {
    return {
        QStringLiteral("x-apple.systempreferences:com.apple.preference.security"),
        QStringLiteral("x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension"),
    };
}

}  // namespace CalendarPrivacy

void openCalendarPrivacySettings(const SettingsEnvironment& environment, const QString& context) {
    const QString prefix = CalendarPermission::prefix(context);
    Log::shared().info(prefix + QStringLiteral("opening privacy settings"));

    for (const QString& script : CalendarPrivacy::revealScripts()) {
        const platform::ScriptOutcome outcome = platform::ScriptRunner::shared().run(script);
        if (outcome.succeeded()) {
            Log::shared().info(prefix + QStringLiteral("opened via AppleScript pane reveal"));
            showCalendarPrivacyGuide(environment, context);
            return;
        }
        Log::shared().error(prefix + QStringLiteral("AppleScript failed - ") + *outcome.error);
    }

    platform::Workspace& workspace = environment.resolvedWorkspace();
    for (const QString& text : CalendarPrivacy::settingsUrls()) {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid()) continue;
        if (workspace.openUrl(url)) {
            Log::shared().info(prefix + QStringLiteral("opened via URL ") + text);
            showCalendarPrivacyGuide(environment, context);
            return;
        }
    }

    if (const auto path = workspace.urlForApplicationWithBundleIdentifier(CalendarPrivacy::settingsBundleIdentifier)) {
        // The launch's outcome is not waited for.
        workspace.openApplicationAtPath(*path);
        Log::shared().info(prefix + QStringLiteral("opened System Settings app fallback"));
        showCalendarPrivacyGuide(environment, context);
        return;
    }

    Log::shared().warning(prefix + QStringLiteral("failed to open any privacy settings target"));
    showCalendarPrivacyGuide(environment, context);
}

void showCalendarPrivacyGuide(const SettingsEnvironment& environment, const QString& context) {
    Log::shared().info(CalendarPermission::prefix(context) + QStringLiteral("showing manual guidance alert"));
    environment.resolvedScheduler().after(CalendarPrivacy::guideDelay, [] {
        // There is no privacy pane to send the user to: the alert says what stands between the
        // application and the calendars, read (with the language) when it is built, after the delay.
        presentAlert(platform::Alert::Style::Informational,
                     L10n::pick(QStringLiteral("Enable Calendar Access"),
                                QStringLiteral("カレンダーアクセスを有効にしてください")),
                     CalendarPermission::problemAdvice(platform::CalendarStore::shared().problem()));
    });
}

void showUnsignedCalendarPermissionAlert(const SettingsEnvironment& environment, const QString& context) {
    Log::shared().info(CalendarPermission::prefix(context) + QStringLiteral("showing unsigned-build guidance alert"));
    environment.resolvedScheduler().after(CalendarPrivacy::unsignedAlertDelay, [] {
        presentAlert(
            platform::Alert::Style::Warning,
            L10n::pick(QStringLiteral("This build cannot request Calendar permission"),
                       QStringLiteral("このビルドではカレンダー許可を要求できません")),
            CalendarPermission::problemAdvice(platform::CalendarStore::shared().problem()));
    });
}
