#pragma once

#include "app/app_delegate.h"
#include "core/app_settings.h"
#include "core/event_bus.h"
#include "detection/notification_detector.h"
#include "permissions/permission_setup_view.h"
#include "support/fake_calendar_store.h"
#include "support/fake_app.h"
#include "support/fake_app_permissions.h"
#include "support/fake_file_watcher.h"
#include "support/fake_screens.h"
#include "support/fixtures.h"

#include <memory>
#include <vector>

namespace apptest {

// Records the delegate's calls in order.
class FakeNotchFeatures final : public NotchFeatures {
public:
    void startCoreServices() override { calls.emplace_back("core"), holdsWindow = true; }
    void startCalendarService() override { calls.emplace_back("calendar"); }
    void startWeatherService() override { calls.emplace_back("weather"); }
    void startAppSwitcherService() override { calls.emplace_back("switcher"); }
    bool isCalendarAccessGranted() const override { return calendarGranted; }
    // Pending answers come from the shared (fake) store, as the desktop's do.
    bool isCalendarAccessPending() const override { return platform::CalendarStore::shared().statusPending(); }
    platform::AnyCancellable observeCalendarAccess(std::function<void()> handler) override {
        return platform::CalendarStore::shared().observeStatus(std::move(handler));
    }
    std::optional<platform::CalendarStoreProblem> calendarStoreProblem() const override { return storeProblem; }
    void stopAll() override { calls.emplace_back("stop"), holdsWindow = false; }
    void prepareForExit() override { calls.emplace_back("exit"); }
    bool hasNotchWindowController() const override { return holdsWindow; }
    void releaseNotchWindowController() override { calls.emplace_back("release"), holdsWindow = false; }

    std::vector<QString> calls;
    bool calendarGranted = true;
    std::optional<platform::CalendarStoreProblem> storeProblem;
    bool holdsWindow = false;
};

class FakeUpdater final : public AppUpdaterPort {
public:
    void start() override { ++starts; }
    void invalidateTimer() override { ++timerInvalidations; }
    void checkForUpdatesInteractively() override { ++interactiveChecks; }

    int starts = 0, timerInvalidations = 0, interactiveChecks = 0;
};

// A delegate over fakes: no store, no Accessibility trust, no icon resource and calendar access
// granted unless a test says otherwise. The detectors look only in the temporary home.
class AppDelegateTest : public testsupport::QuillvexTest, public testsupport::FakeAppPermissions {
protected:
    AppDelegateTest() { screens.screenList = {testsupport::plainScreen(0, 0, 1512, 982)}; }

    AppDelegateEnvironment environment() {
        AppDelegateEnvironment env;
        env.application = &application;
        env.bus = &bus;
        env.scheduler = &scheduler();
        env.defaults = &defaults();
        env.detector = &detector;
        env.permissions = &permissions;
        env.fullDiskAccess = &fullDiskAccess;
        env.notchFeatures = &notch;
        env.updater = &updater;
        env.setup.workspace = &workspace;
        env.setup.bundlePath = [] { return QStringLiteral("/Applications/Quillvex.app"); };
        env.setup.copyText = [](const QString&) {};
        return env;
    }

    AppDelegate& launch() {
        delegate = std::make_unique<AppDelegate>(environment());
        application.setDelegate(delegate.get());
        delegate->applicationDidFinishLaunching();
        return *delegate;
    }
    NotificationDetector::Factories detectorFactories() {
        return {
            [this] { return std::make_unique<AXObserverDetector>(bus, accessibility, workspace, scheduler()); },
            [this] { return std::make_unique<PollingDetector>(bus, scheduler()); },
            [this] {
                return std::make_unique<NotificationDatabaseDetector>(bus, scheduler(), workspace, directories, files,
                                                                      fileWatcher);
            },
        };
    }
    void useSource(const QString& source) { defaults().set(AppSettings::detectionSourceKey, source); }

    testsupport::FakeApplication application;
    // The settings window's General tab reads the calendar status: never the desktop's store here.
    testsupport::FakeCalendarStore calendarStore;
    testsupport::FakeScreens screens;
    EventBus bus{scheduler()};
    testsupport::FakeFileWatcher fileWatcher;
    NotificationDetector detector{DetectionMode::auto_, detectorFactories(), &defaults()};
    FakeNotchFeatures notch;
    FakeUpdater updater;
    std::unique_ptr<AppDelegate> delegate;
};

}  // namespace apptest
