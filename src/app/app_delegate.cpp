#include "app/app_delegate.h"

#include "core/log.h"
#include "core/runtime_diagnostics.h"

namespace {

AppDelegate* liveDelegate = nullptr;

}  // namespace

AppDelegate::AppDelegate(AppDelegateEnvironment environment)
    : ownNotchFeatures_(environment.notchFeatures ? nullptr : std::make_unique<EmptyNotchFeatures>()),
      ownUpdater_(environment.updater ? nullptr : std::make_unique<EmptyAppUpdater>()),
      application_(environment.application ? *environment.application : platform::Application::shared()),
      bus_(environment.bus ? *environment.bus : EventBus::shared()),
      scheduler_(environment.scheduler ? *environment.scheduler : platform::Scheduler::shared()),
      defaults_(environment.defaults ? *environment.defaults : platform::Defaults::standard()),
      detector_(environment.detector ? *environment.detector : NotificationDetector::shared()),
      permissions_(environment.permissions ? *environment.permissions : PermissionManager::shared()),
      fullDiskAccess_(environment.fullDiskAccess ? *environment.fullDiskAccess : FullDiskAccessManager::shared()),
      notchFeatures_(environment.notchFeatures ? *environment.notchFeatures : *ownNotchFeatures_),
      updater_(environment.updater ? *environment.updater : *ownUpdater_),
      setupEnvironment_(std::move(environment.setup)),
      settings_(&defaults_) {
    if (!setupEnvironment_.permissions) setupEnvironment_.permissions = &permissions_;
    if (!setupEnvironment_.fullDiskAccess) setupEnvironment_.fullDiskAccess = &fullDiskAccess_;
    if (!setupEnvironment_.application) setupEnvironment_.application = &application_;
    if (!setupEnvironment_.scheduler) setupEnvironment_.scheduler = &scheduler_;
    liveDelegate = this;
}

AppDelegate::~AppDelegate() {
    if (liveDelegate == this) liveDelegate = nullptr;
    if (application_.delegate() == this) application_.setDelegate(nullptr);
    application_.setReopenHandler({});
    if (settingsWindow_) settingsWindow_->setDelegate(nullptr);
}

AppDelegate* AppDelegate::shared() { return liveDelegate; }

QString AppDelegate::storedDetectionSource() const {
    const auto stored = defaults_.stringValue(AppSettings::detectionSourceKey);
    return stored == QStringLiteral("ui") ? QStringLiteral("ui") : QStringLiteral("database");
}

void AppDelegate::applicationDidFinishLaunching() {
    Log::shared().info(QStringLiteral("Application launched"));
    AppRuntimeDiagnostics::logSigningState(QStringLiteral("launch"));
    refreshDockIcon();
    refreshActivationPolicyForCurrentState(QStringLiteral("launch"));
    application_.setReopenHandler(lifetime_.wrap([this] { handleReopenEvent(); }));

    detectionSourceRaw_ = storedDetectionSource();
    notchFeaturesEnabledRaw_ = settings_.enableNotchFeatures();

    observers_.insert(defaults_.didChange().sink(lifetime_.wrap([this](const QString&) { onSettingsChanged(); })));
    observers_.insert(application_.sessionDidResignActive().sink(
        std::function<void()>(lifetime_.wrap([this] { handleSessionDidResignActive(); }))));

    updater_.start();
    startRuntime();
}

void AppDelegate::startRuntime() {
    if (monitoringStarted_) return;

    if (requiresAccessibility() && !permissions_.isAccessibilityTrusted()) {
        showPermissionSetupFlow();
        return;
    }

    const auto snapshot = fullDiskAccess_.diagnosticSnapshot();
    fullDiskAccess_.logDiagnosticSnapshotIfNeeded(snapshot, QStringLiteral("check"));
    const bool allowDatabaseDetection = snapshot.canOpen || !requiresFullDiskAccess();
    deferredMonitoringAllowDatabaseDetection_ = allowDatabaseDetection;

    // Monitoring still starts without the database: the detector falls back to the UI road.
    if (requiresFullDiskAccess() && !snapshot.canOpen) showPermissionSetupFlow();

    if (wantsCalendar() && !notchFeatures_.isCalendarAccessGranted()) {
        // The store is still being reached: monitoring starts meanwhile, the check follows its answer.
        if (notchFeatures_.isCalendarAccessPending()) {
            whenCalendarAccessKnown(startupCalendarWait_, [this] {
                if (wantsCalendar() && !notchFeatures_.isCalendarAccessGranted()) warnCalendarAccessMissing();
            });
        } else {
            warnCalendarAccessMissing();
        }
    }

    startMonitoring(allowDatabaseDetection);
    refreshActivationPolicyForCurrentState(QStringLiteral("runtime-started"));
}

void AppDelegate::startMonitoring(bool allowDatabaseDetection) {
    Log::shared().info(QStringLiteral("Starting notification monitoring"));
    deferredMonitoringAllowDatabaseDetection_ = allowDatabaseDetection;
    monitoringStarted_ = true;

    if (islandQueue_) {
        Log::shared().debug(QStringLiteral("Releasing previous IslandQueue instance"));
        islandQueue_.reset();
    }
    if (islandWindowController_) {
        Log::shared().debug(QStringLiteral("Releasing previous IslandWindowController instance"));
        if (auto* window = islandWindowController_->window()) window->close();
        islandWindowController_.reset();
    }
    if (notchFeatures_.hasNotchWindowController()) {
        Log::shared().debug(QStringLiteral("Releasing previous NotchWindowController instance"));
        notchFeatures_.releaseNotchWindowController();
    }
    stopNotchFeatures();

    islandQueue_ = std::make_unique<IslandQueue>(bus_, scheduler_, &defaults_);
    islandWindowController_ =
        std::make_unique<IslandWindowController>(IslandWindowController::ContentViewFactory(), bus_, nullptr, scheduler_,
                                                 &defaults_);
    islandWindowController_->windowDidLoad();

    detector_.start(allowDatabaseDetection);

    if (settings_.enableNotchFeatures()) {
        startNotchFeatures();
    } else {
        stopNotchFeatures();
    }
    Log::shared().info(QStringLiteral("Monitoring started successfully"));
}

void AppDelegate::applicationWillTerminate() {
    // A calendar store still unanswered at startup is no news once the application ends.
    startupCalendarWait_.cancel();
    notchFeatures_.prepareForExit();
    detector_.stop();
    // The overlay stays on screen to the process's end, but the event loop still turns until the
    // quit is taken: nothing of it may publish, animate to a new state or log after the last line.
    if (islandQueue_) islandQueue_->stop();
    if (islandWindowController_) islandWindowController_->stop();
    stopNotchFeatures();
    stopPermissionMonitoring();
    updater_.invalidateTimer();
    Log::shared().info(QStringLiteral("Application terminating"));
}

void AppDelegate::startNotchFeatures() {
    if (!settings_.enableNotchFeatures()) {
        stopNotchFeatures();
        return;
    }
    if (isNotchRuntimeActive_) return;

    Log::shared().info(QStringLiteral("Starting notch features"));
    notchFeatures_.startCoreServices();

    if (settings_.enableGlance() && settings_.showCalendar()) {
        if (notchFeatures_.isCalendarAccessPending() && !notchFeatures_.isCalendarAccessGranted()) {
            // Only the calendar service waits for the store; the rest starts now.
            whenCalendarAccessKnown(notchCalendarWait_, [this] {
                if (wantsCalendar()) startCalendarIfGranted();
            });
        } else {
            startCalendarIfGranted();
        }
    }
    if (settings_.enableGlance() && settings_.showWeather()) notchFeatures_.startWeatherService();
    if (settings_.enableSwitcher()) notchFeatures_.startAppSwitcherService();

    isNotchRuntimeActive_ = true;
    Log::shared().info(QStringLiteral("Notch features started successfully"));
}

bool AppDelegate::wantsCalendar() const {
    return settings_.enableNotchFeatures() && settings_.enableGlance() && settings_.showCalendar();
}

void AppDelegate::whenCalendarAccessKnown(platform::AnyCancellable& wait, std::function<void()> answered) {
    wait = notchFeatures_.observeCalendarAccess([this, &wait, answered = std::move(answered)] {
        if (notchFeatures_.isCalendarAccessPending()) return;
        const auto run = answered;  // cancelling drops this handler
        wait.cancel();
        run();
    });
}

void AppDelegate::warnCalendarAccessMissing() {
    const auto problem = notchFeatures_.calendarStoreProblem();
    if (!problem) {
        Log::shared().warning(QStringLiteral(
            "AppDelegate: Calendar permission is pending; continuing startup with calendar glance disabled"));
        openSettings();
        return;
    }
    // Nothing to ask for: the settings window would only offer a request that cannot succeed.
    switch (*problem) {
    case platform::CalendarStoreProblem::noSessionBus:
        Log::shared().warning(QStringLiteral("AppDelegate: No session bus for the calendar store; continuing startup "
                                             "with calendar glance disabled"));
        break;
    case platform::CalendarStoreProblem::notInstalled:
        Log::shared().warning(QStringLiteral("AppDelegate: No calendar store on the session bus; continuing startup "
                                             "with calendar glance disabled"));
        break;
    case platform::CalendarStoreProblem::unreachable:
        Log::shared().warning(QStringLiteral("AppDelegate: The calendar store does not answer; continuing startup "
                                             "with calendar glance disabled"));
        break;
    }
}

void AppDelegate::startCalendarIfGranted() {
    if (notchFeatures_.isCalendarAccessGranted()) {
        notchFeatures_.startCalendarService();
    } else {
        Log::shared().info(QStringLiteral("AppDelegate: CalendarService start deferred until the user grants calendar access"));
    }
}

void AppDelegate::stopNotchFeatures() {
    notchCalendarWait_.cancel();
    notchFeatures_.stopAll();
    isNotchRuntimeActive_ = false;
    bus_.hoverStateSubject.send(false);
    bus_.notchModeSubject.send(NotchMode::idle);
}

void AppDelegate::onSettingsChanged() {
    const QString source = storedDetectionSource();
    const bool notchOn = settings_.enableNotchFeatures();
    const bool sourceSame = detectionSourceRaw_ && *detectionSourceRaw_ == source;
    const bool notchSame = notchFeaturesEnabledRaw_ && *notchFeaturesEnabledRaw_ == notchOn;
    if (sourceSame && notchSame) return;

    if (!notchSame) {
        notchFeaturesEnabledRaw_ = notchOn;
        startRuntime();
        if (monitoringStarted_) {
            if (settings_.enableNotchFeatures()) {
                startNotchFeatures();
            } else {
                stopNotchFeatures();
            }
        }
        if (sourceSame) return;
    }

    detectionSourceRaw_ = source;
    detector_.stop();
    monitoringStarted_ = false;
    const auto snapshot = fullDiskAccess_.diagnosticSnapshot();
    fullDiskAccess_.logDiagnosticSnapshotIfNeeded(snapshot, QStringLiteral("check"));
    deferredMonitoringAllowDatabaseDetection_ = snapshot.canOpen || !requiresFullDiskAccess();
    startRuntime();
}
