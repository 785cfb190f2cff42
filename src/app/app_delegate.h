#pragma once

#include "app/app_updater_port.h"
#include "app/notch_features.h"
#include "core/app_settings.h"
#include "core/event_bus.h"
#include "detection/notification_detector.h"
#include "overlay/island_queue.h"
#include "overlay/island_window_controller.h"
#include "permissions/full_disk_access_manager.h"
#include "permissions/permission_manager.h"
#include "permissions/permission_setup_model.h"
#include "platform/shell/application.h"
#include "platform/shell/window.h"
#include "platform/storage/defaults.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "settings_ui/settings_environment.h"

#include <QString>

#include <memory>
#include <optional>

// Everything the delegate talks to. Each nullptr means the shared instance (or the application's
// own implementation), looked up when the delegate is made.
struct AppDelegateEnvironment {
    platform::Application* application = nullptr;
    EventBus* bus = nullptr;
    platform::Scheduler* scheduler = nullptr;
    platform::Defaults* defaults = nullptr;
    NotificationDetector* detector = nullptr;
    PermissionManager* permissions = nullptr;
    FullDiskAccessManager* fullDiskAccess = nullptr;
    NotchFeatures* notchFeatures = nullptr;
    AppUpdaterPort* updater = nullptr;
    // Handed on to the permission setup (bundle path, clipboard, workspace in tests).
    PermissionSetupEnvironment setup;
};

// The owner of the running system: brings the application up, decides whether notification
// monitoring may start, builds the notification pipeline (overlay queue, overlay window
// controller, detector), starts and stops the notch features, keeps the activation policy, the
// settings and permission setup windows and the permission poll, and tears it all down at
// termination. Main thread only.
class AppDelegate final : public platform::ApplicationDelegate,
                          public platform::WindowDelegate,
                          public SettingsHost {
public:
    explicit AppDelegate(AppDelegateEnvironment environment = {});
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The live delegate, if any (the settings window asks it to focus a window and to resume
    // deferred monitoring).
    static AppDelegate* shared();

    // Start-up, runtime start, monitoring and shutdown.
    void applicationDidFinishLaunching() override;
    void startRuntime();
    void startMonitoring(bool allowDatabaseDetection);
    void applicationWillTerminate() override;
    void applicationDidBecomeActive() override {}

    // Notch features and settings changes.
    void startNotchFeatures();
    void stopNotchFeatures();
    void onSettingsChanged();

    // Activation policy, windows and permission monitoring.
    bool requiresAccessibility() const;
    bool requiresFullDiskAccess() const;
    void refreshActivationPolicyForCurrentState(const QString& reason);
    void openSettings();
    void windowWillClose(platform::Window& window) override;
    bool focusWindowForSystemPrompt() override;
    void showPermissionSetupFlow();
    void startPermissionMonitoring();
    void stopPermissionMonitoring();
    void refreshDockIcon();
    void handleReopenEvent();
    bool applicationShouldHandleReopen(bool hasVisibleWindows) override;
    void handleSessionDidResignActive();
    void resumeMonitoringAfterCalendarPermissionFlow() override;
    void checkForUpdates();

    // State, for the menu and for tests.
    bool monitoringStarted() const { return monitoringStarted_; }
    bool deferredMonitoringAllowDatabaseDetection() const { return deferredMonitoringAllowDatabaseDetection_; }
    bool isNotchRuntimeActive() const { return isNotchRuntimeActive_; }
    const std::optional<QString>& detectionSourceRaw() const { return detectionSourceRaw_; }
    IslandQueue* islandQueue() const { return islandQueue_.get(); }
    IslandWindowController* islandWindowController() const { return islandWindowController_.get(); }
    platform::Window* settingsWindow() const { return settingsWindow_.get(); }
    platform::Window* permissionWindow() const { return permissionWindow_.get(); }
    bool isPermissionMonitoring() const { return permissionCheckTimer_.isValid(); }

private:
    // "ui" when exactly that text is stored under the detection-source key, else "database".
    QString storedDetectionSource() const;
    void permissionPollTick();
    void continueWithoutFullDiskAccess();
    bool wantsCalendar() const;
    // Runs `answered` once, on the main thread, when the calendar access answer is no longer pending.
    void whenCalendarAccessKnown(platform::AnyCancellable& wait, std::function<void()> answered);
    void warnCalendarAccessMissing();
    void startCalendarIfGranted();
    // What the settings window is given: the delegate's own collaborators, and itself as host.
    SettingsEnvironment settingsEnvironment();

    // The application's own implementations, when the environment brings none (made first).
    std::unique_ptr<NotchFeatures> ownNotchFeatures_;
    std::unique_ptr<AppUpdaterPort> ownUpdater_;

    platform::Application& application_;
    EventBus& bus_;
    platform::Scheduler& scheduler_;
    platform::Defaults& defaults_;
    NotificationDetector& detector_;
    PermissionManager& permissions_;
    FullDiskAccessManager& fullDiskAccess_;
    NotchFeatures& notchFeatures_;
    AppUpdaterPort& updater_;
    PermissionSetupEnvironment setupEnvironment_;
    AppSettings settings_;

    std::unique_ptr<IslandWindowController> islandWindowController_;
    std::unique_ptr<IslandQueue> islandQueue_;
    std::shared_ptr<platform::Window> permissionWindow_;
    platform::RepeatingTimer permissionCheckTimer_;
    std::optional<QString> detectionSourceRaw_;
    std::optional<bool> notchFeaturesEnabledRaw_;
    bool isNotchRuntimeActive_ = false;
    // Waits for the calendar store's answer: the start's access check, and the calendar service of
    // the running notch features (cancelled when they stop).
    platform::AnyCancellable startupCalendarWait_;
    platform::AnyCancellable notchCalendarWait_;
    std::shared_ptr<platform::Window> settingsWindow_;
    bool monitoringStarted_ = false;
    bool deferredMonitoringAllowDatabaseDetection_ = true;

    platform::CancellableSet observers_;
    platform::Lifetime lifetime_;
};
