#include "core/runtime_diagnostics.h"

#include "core/log.h"
#include "platform/notification_store/notification_list.h"
#include "platform/shell/codesign.h"
#include "platform/shell/main_bundle.h"
#include "platform/scripting/scripting.h"
#include "platform/workspace/workspace.h"

#include <QCoreApplication>
#include <QStringList>

namespace AppRuntimeDiagnostics {

std::optional<QString> codeIdentifier() { return platform::CodeSigning::shared().codeIdentifier(); }

std::optional<QString> teamIdentifier() { return platform::CodeSigning::shared().teamIdentifier(); }

void logSigningState(const QString& context) {
    const std::optional<QString> code = codeIdentifier();
    const std::optional<QString> team = teamIdentifier();
    const platform::MainBundle& bundle = platform::MainBundle::shared();
    Log::shared().info(QStringLiteral("RuntimeSigning[") + context + QStringLiteral("]: bundleID=") +
                       bundle.bundleIdentifier().value_or(QStringLiteral("unknown")) + QStringLiteral(" codeID=") +
                       code.value_or(QStringLiteral("unknown")) + QStringLiteral(" teamID=") +
                       team.value_or(QStringLiteral("none")) + QStringLiteral(" path=") + bundle.bundlePath());
}

}  // namespace AppRuntimeDiagnostics

namespace Actions {

namespace {

// Clicks the item described exactly as Notification Center, else any item that mentions
// notifications; when both fail the script ends quietly.
QString notificationCenterScript() {
    return QStringList{
        QStringLiteral("tell application \"System Events\""),
        QStringLiteral("  tell application process \"SystemUIServer\""),
        QStringLiteral("    try"),
        QStringLiteral("      click (first menu bar item whose description is \"Notification Center\") of menu bar 1"),
        QStringLiteral("    on error"),
        QStringLiteral("      try"),
        QStringLiteral("        click (first menu bar item whose description contains \"Notification\") of menu bar 1"),
        QStringLiteral("      end try"),
        QStringLiteral("    end try"),
        QStringLiteral("  end tell"),
        QStringLiteral("end tell"),
    }
        .join(QLatin1Char('\n'));
}

}  // namespace

void openNotificationCenter() {
    platform::Workspace::shared().activateApplication(QCoreApplication::applicationPid(), true);
    // The desktop's own list of notifications stands where Notification Center does; only when
    // the running daemon keeps none is the menu-bar item clicked.
    platform::NotificationList::shared().show([](bool shown) {
        if (shown) return;
        const platform::ScriptOutcome outcome = platform::ScriptRunner::shared().run(notificationCenterScript());
        if (outcome.error) Log::shared().warning(QStringLiteral("Failed to open Notification Center: ") + *outcome.error);
    });
}

}  // namespace Actions
