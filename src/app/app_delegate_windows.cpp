// The activation policy, the settings and permission setup windows, the permission poll and the
// small handlers around them.

#include "app/app_delegate.h"

#include "core/l10n.h"
#include "core/log.h"
#include "permissions/permission_setup_view.h"
#include "settings_ui/settings_view.h"

namespace {

using platform::ActivationPolicy;
using platform::WindowStyle;

constexpr double kPermissionPollInterval = 0.8;
constexpr double kSettingsClosedRefreshDelay = 0.1;

QString policyName(ActivationPolicy policy) { return QString::fromLatin1(platform::activationPolicyName(policy)); }

}  // namespace

bool AppDelegate::requiresAccessibility() const { return storedDetectionSource() == QStringLiteral("ui"); }

bool AppDelegate::requiresFullDiskAccess() const { return !requiresAccessibility(); }

void AppDelegate::refreshActivationPolicyForCurrentState(const QString& reason) {
    // Tried in order up to the first that holds; the snapshot is the expensive one.
    bool regular = settingsWindow_ && settingsWindow_->isVisible();
    if (!regular) regular = permissionWindow_ && permissionWindow_->isVisible();
    if (!regular) regular = requiresAccessibility() && !permissions_.isAccessibilityTrusted();
    if (!regular && requiresFullDiskAccess()) {
        const auto snapshot = fullDiskAccess_.diagnosticSnapshot();
        fullDiskAccess_.logDiagnosticSnapshotIfNeeded(snapshot, QStringLiteral("check"));
        regular = !snapshot.canOpen;
    }
    const ActivationPolicy wanted = regular ? ActivationPolicy::Regular : ActivationPolicy::Accessory;
    if (application_.activationPolicy() != wanted) {
        application_.setActivationPolicy(wanted);
        Log::shared().info(QStringLiteral("AppDelegate: Activation policy -> ") + policyName(wanted) +
                           QStringLiteral(" [reason=") + reason + QStringLiteral("]"));
    } else {
        Log::shared().info(QStringLiteral("AppDelegate: Activation policy unchanged (") + policyName(wanted) +
                           QStringLiteral(") [reason=") + reason + QStringLiteral("]"));
    }
}

void AppDelegate::openSettings() {
    if (application_.activationPolicy() != ActivationPolicy::Regular) {
        application_.setActivationPolicy(ActivationPolicy::Regular);
    }
    if (settingsWindow_ && settingsWindow_->isVisible()) {
        settingsWindow_->makeKeyAndOrderFront();
        application_.activate(true);
        return;
    }

    auto window = application_.makeWindow(
        QSize(760, 620), WindowStyle::Titled | WindowStyle::Closable | WindowStyle::Miniaturizable | WindowStyle::Resizable);
    window->setContentView(new SettingsView(settingsEnvironment()));
    window->setTitle(L10n::pick(QStringLiteral("Settings"), QStringLiteral("設定")));
    window->setMinSize(QSize(700, 560));
    window->center();
    window->setDelegate(this);
    window->makeKeyAndOrderFront();
    application_.activate(true);
    // A stored window that is no longer visible is replaced; it must not report its close here.
    if (settingsWindow_) settingsWindow_->setDelegate(nullptr);
    settingsWindow_ = std::move(window);
    Log::shared().info(QStringLiteral("AppDelegate: Settings window created"));
}

SettingsEnvironment AppDelegate::settingsEnvironment() {
    SettingsEnvironment environment;
    environment.defaults = &defaults_;
    environment.bus = &bus_;
    environment.scheduler = &scheduler_;
    environment.workspace = setupEnvironment_.workspace;
    environment.permissions = &permissions_;
    environment.fullDiskAccess = &fullDiskAccess_;
    environment.host = this;
    return environment;
}

void AppDelegate::windowWillClose(platform::Window& window) {
    if (!settingsWindow_ || settingsWindow_.get() != &window) return;
    settingsWindow_.reset();
    scheduler_.after(kSettingsClosedRefreshDelay, lifetime_.wrap([this] {
        refreshActivationPolicyForCurrentState(QStringLiteral("settings-window-closed"));
    }));
}

bool AppDelegate::focusWindowForSystemPrompt() {
    if (application_.activationPolicy() != ActivationPolicy::Regular) {
        application_.setActivationPolicy(ActivationPolicy::Regular);
    }
    if (settingsWindow_ && settingsWindow_->isVisible()) {
        settingsWindow_->makeKeyAndOrderFront();
        settingsWindow_->orderFrontRegardless();
        application_.activate(true);
        Log::shared().info(QStringLiteral("AppDelegate: Focused settings window for system prompt"));
        return true;
    }
    // The menu-bar entry has no window in the list, so every window here is one of ours.
    for (platform::Window* window : application_.windows().orderedWindows()) {
        if (!window->isVisible() || !window->canBecomeKey() || !(window->styleMask() & WindowStyle::Titled)) continue;
        window->makeKeyAndOrderFront();
        window->orderFrontRegardless();
        application_.activate(true);
        Log::shared().info(QStringLiteral("AppDelegate: Focused fallback window for system prompt (") + window->title() +
                           QStringLiteral(")"));
        return true;
    }
    Log::shared().warning(QStringLiteral("AppDelegate: No suitable key window available for system prompt"));
    return false;
}

void AppDelegate::showPermissionSetupFlow() {
    Log::shared().warning(QStringLiteral("Permission setup required, showing guided flow"));
    refreshActivationPolicyForCurrentState(QStringLiteral("permission-setup-flow"));

    const bool needAccessibility = requiresAccessibility();
    const bool needFullDiskAccess = requiresFullDiskAccess();
    if (needAccessibility && !permissions_.isAccessibilityTrusted()) {
        permissions_.requestAccessibility();
    } else if (needFullDiskAccess) {
        const auto snapshot = fullDiskAccess_.diagnosticSnapshot();
        fullDiskAccess_.logDiagnosticSnapshotIfNeeded(snapshot, QStringLiteral("check"));
        if (!snapshot.canOpen) fullDiskAccess_.openFullDiskAccessSettings();
    }
    if (needFullDiskAccess) fullDiskAccess_.logDiagnosticSnapshotIfNeeded(std::nullopt, QStringLiteral("setup-flow"));

    PermissionSetupModel::Actions actions;
    // No desktop has an Accessibility pane: the request itself switches accessibility on.
    actions.openAccessibilitySettings = [this] { permissions_.requestAccessibility(); };
    actions.openFullDiskAccessSettings = [this] { fullDiskAccess_.openFullDiskAccessSettings(); };
    actions.continueWithoutFullDiskAccess = [this] {
        scheduler_.post(lifetime_.wrap([this] { continueWithoutFullDiskAccess(); }));
    };
    actions.quit = [this] { application_.terminate(); };
    auto* view = new PermissionSetupView(needAccessibility, needFullDiskAccess, std::move(actions), setupEnvironment_);

    if (!permissionWindow_) {
        permissionWindow_ = application_.makeWindow(QSize(560, 420), WindowStyle::Titled | WindowStyle::Closable);
    }
    permissionWindow_->setTitle(QStringLiteral("Quillvex Setup"));
    // Centred once the content has given the window its height.
    permissionWindow_->setContentView(view);
    permissionWindow_->center();
    permissionWindow_->makeKeyAndOrderFront();

    startPermissionMonitoring();
}

void AppDelegate::continueWithoutFullDiskAccess() {
    stopPermissionMonitoring();
    if (permissionWindow_) permissionWindow_->orderOut();
    permissionWindow_.reset();
    detector_.stop();
    startMonitoring(false);
}

void AppDelegate::startPermissionMonitoring() {
    stopPermissionMonitoring();
    // Each tick queues its work, so it never runs inside another delegate method.
    permissionCheckTimer_ = scheduler_.every(kPermissionPollInterval, lifetime_.wrap([this] {
        scheduler_.post(lifetime_.wrap([this] { permissionPollTick(); }));
    }));
}

void AppDelegate::permissionPollTick() {
    // A tick queued before the poll stopped (the user went on, or the application is quitting)
    // must not restart monitoring.
    if (!permissionCheckTimer_.isValid()) return;

    const bool accessibilitySatisfied = !requiresAccessibility() || permissions_.isAccessibilityTrusted();
    if (!accessibilitySatisfied) return;
    if (requiresFullDiskAccess()) {
        const auto snapshot = fullDiskAccess_.diagnosticSnapshot();
        fullDiskAccess_.logDiagnosticSnapshotIfNeeded(snapshot, QStringLiteral("check"));
        if (!snapshot.canOpen) return;
    }

    permissionCheckTimer_.invalidate();
    if (permissionWindow_) permissionWindow_->orderOut();
    permissionWindow_.reset();
    detector_.stop();
    startMonitoring(true);
    refreshActivationPolicyForCurrentState(QStringLiteral("permission-monitoring-complete"));
}

void AppDelegate::stopPermissionMonitoring() {
    permissions_.stopObserving();
    permissionCheckTimer_.invalidate();
}

void AppDelegate::refreshDockIcon() {
    if (auto icon = application_.imageResource(QStringLiteral("AppIcon"), QStringLiteral("icns"))) {
        application_.setApplicationIconImage(*icon);
        return;
    }
    Log::shared().warning(QStringLiteral("AppDelegate: Failed to load AppIcon.icns from app bundle"));
}

void AppDelegate::handleReopenEvent() { openSettings(); }

bool AppDelegate::applicationShouldHandleReopen(bool) {
    openSettings();
    return false;
}

void AppDelegate::handleSessionDidResignActive() {
    if (settingsWindow_) settingsWindow_->orderOut();
    if (permissionWindow_) permissionWindow_->orderOut();
}

void AppDelegate::resumeMonitoringAfterCalendarPermissionFlow() {
    if (monitoringStarted_) {
        Log::shared().info(QStringLiteral("AppDelegate: Monitoring already running when calendar permission flow resolved"));
        return;
    }
    Log::shared().info(QStringLiteral("AppDelegate: Resuming deferred monitoring after calendar permission flow"));
    startMonitoring(deferredMonitoringAllowDatabaseDetection_);
    refreshActivationPolicyForCurrentState(QStringLiteral("calendar-permission-flow-resolved"));
}

void AppDelegate::checkForUpdates() {
    scheduler_.post(lifetime_.wrap([this] { updater_.checkForUpdatesInteractively(); }));
}
