#include "calendar_privacy.h"

#include "calendar_permission.h"
#include "core/l10n.h"
#include "core/log.h"
#include "core/runtime_diagnostics.h"
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
        // Signing and language are read when the alert is built, after the delay.
        const bool signedBuild = AppRuntimeDiagnostics::teamIdentifier().has_value();
        const QString informative =
            signedBuild
                ? L10n::pick(QStringLiteral("When System Settings opens, go to Privacy & Security > Calendars and "
                                            "turn Quillvex on."),
                             QStringLiteral("System Settings が開いたら「プライバシーとセキュリティ」内の「カレンダー」"
                                            "を開き、Quillvex をオンにしてください。"))
                : L10n::pick(QStringLiteral("This build is not development-signed, so macOS may not show the Calendar "
                                            "permission prompt. Test again from an Xcode-run signed build or another "
                                            "signed app build. When System Settings opens, go to Privacy & Security "
                                            "> Calendars and turn Quillvex on."),
                             QStringLiteral("このビルドは開発署名されていないため、macOS のカレンダー許可ダイアログが"
                                            "表示されないことがあります。Xcode から起動した署名付きビルド、または署名済み"
                                            "アプリで確認してください。System Settings が開いたら「プライバシーとセキュリ"
                                            "ティ」内の「カレンダー」を開き、Quillvex をオンにしてください。"));
        presentAlert(platform::Alert::Style::Informational,
                     L10n::pick(QStringLiteral("Enable Calendar Access"),
                                QStringLiteral("カレンダーアクセスを有効にしてください")),
                     informative);
    });
}

void showUnsignedCalendarPermissionAlert(const SettingsEnvironment& environment, const QString& context) {
    Log::shared().info(CalendarPermission::prefix(context) + QStringLiteral("showing unsigned-build guidance alert"));
    environment.resolvedScheduler().after(CalendarPrivacy::unsignedAlertDelay, [] {
        presentAlert(
            platform::Alert::Style::Warning,
            L10n::pick(QStringLiteral("This build cannot request Calendar permission"),
                       QStringLiteral("このビルドではカレンダー許可を要求できません")),
            L10n::pick(QStringLiteral("The current Quillvex build is not development-signed, so macOS will not show "
                                      "the Calendar permission prompt. Test again from an Apple Development-signed "
                                      "build or a future signed distribution build."),
                       QStringLiteral("現在の Quillvex は開発署名されていないため、macOS のカレンダー許可ダイアログが"
                                      "表示されません。Apple Development などの署名付きビルドで実行するか、将来の署名"
                                      "済み配布版で確認してください。")));
    });
}
