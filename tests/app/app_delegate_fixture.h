#pragma once

#include "app/app_delegate.h"
#include "core/app_settings.h"
#include "core/event_bus.h"
#include "detection/notification_detector.h"
#include "permissions/full_disk_access_manager.h"
#include "permissions/permission_manager.h"
#include "permissions/permission_setup_view.h"
#include "support/fake_accessibility.h"
#include "support/fake_app.h"
#include "support/fake_file_access.h"
#include "support/fake_screens.h"
#include "support/fake_user_directories.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <vector>

namespace apptest {

// Records the delegate's calls in order.
class FakeNotchFeatures final : public NotchFeatures {
public:
    void startCoreServices() override {
        calls.push_back(QStringLiteral("core"));
        holdsWindow = true;
    }
    void startCalendarService() override { calls.push_back(QStringLiteral("calendar")); }
    void startWeatherService() override { calls.push_back(QStringLiteral("weather")); }
    void startAppSwitcherService() override { calls.push_back(QStringLiteral("switcher")); }
    bool isCalendarAccessGranted() const override { return calendarGranted; }
    void stopAll() override {
        calls.push_back(QStringLiteral("stop"));
        holdsWindow = false;
    }
    bool hasNotchWindowController() const override { return holdsWindow; }
    void releaseNotchWindowController() override {
        calls.push_back(QStringLiteral("release"));
        holdsWindow = false;
    }

    std::vector<QString> calls;
    bool calendarGranted = true;
    bool holdsWindow = false;
};

class FakeUpdater final : public AppUpdaterPort {
public:
    void start() override { ++starts; }
    void invalidateTimer() override { ++timerInvalidations; }
    void checkForUpdatesInteractively() override { ++interactiveChecks; }

    int starts = 0;
    int timerInvalidations = 0;
    int interactiveChecks = 0;
};

// A delegate over fakes: no store, no Accessibility trust and calendar access granted unless a
// test says otherwise.
class AppDelegateTest : public testsupport::QuillvexTest {
protected:
    AppDelegateTest() {
        directories.home = home.path();
        directories.passwordHome = home.path();
        screens.screenList = {testsupport::plainScreen(0, 0, 1512, 982)};
        application.addImageResource(QStringLiteral("AppIcon.icns"));
    }

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

    AppDelegate& makeDelegate() {
        delegate = std::make_unique<AppDelegate>(environment());
        application.setDelegate(delegate.get());
        return *delegate;
    }

    AppDelegate& launch() {
        makeDelegate().applicationDidFinishLaunching();
        return *delegate;
    }

    QString storePath() const {
        return home.path() + QStringLiteral("/Library/Group Containers/group.com.apple.usernoted/db2/db");
    }
    void grantFullDiskAccess() {
        QDir().mkpath(QFileInfo(storePath()).absolutePath());
        QFile file(storePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    void useSource(const QString& source) { defaults().set(AppSettings::detectionSourceKey, source); }

    static NotificationSignal signal(const QString& app, const QString& message) {
        return NotificationSignal{QUuid::createUuid(), QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC),
                                  SignalConfidence::strong, app, message, std::nullopt, std::nullopt, false};
    }

    testsupport::ScopedTempHome home;
    testsupport::FakeApplication application;
    testsupport::FakeAccessibility accessibility;
    testsupport::FakeWorkspace workspace;
    testsupport::FakeScreens screens;
    testsupport::FakeUserDirectories directories;
    testsupport::FakeFileAccessProbe files;
    FullDiskAccessManager fullDiskAccess{directories, files, workspace};
    PermissionManager permissions{&accessibility, &workspace};
    EventBus bus{scheduler()};
    NotificationDetector detector{DetectionMode::auto_, NotificationDetector::Factories::standard(), &defaults()};
    FakeNotchFeatures notch;
    FakeUpdater updater;
    std::unique_ptr<AppDelegate> delegate;
};

}  // namespace apptest
