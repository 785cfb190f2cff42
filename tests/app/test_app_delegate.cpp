#include "app_delegate_fixture.h"

#include "core/l10n.h"

using apptest::AppDelegateTest;
using platform::ActivationPolicy;
using testsupport::LogCapture;

namespace {

int indexOf(const LogCapture& log, const QString& text) { return static_cast<int>(log.texts().indexOf(text)); }

}  // namespace

TEST_F(AppDelegateTest, FirstLaunchWithoutStoreShowsSetupAndStillMonitors) {
    launch();

    const QStringList lines = log.texts();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], "Application launched");
    EXPECT_TRUE(lines[1].startsWith("RuntimeSigning[launch]: bundleID="));
    // The first policy line comes before anything else the delegate says; the snapshot it takes
    // logs on its own.
    const QStringList policyLines = log.matching("AppDelegate: Activation policy");
    ASSERT_FALSE(policyLines.isEmpty());
    EXPECT_EQ(policyLines.first(), "AppDelegate: Activation policy -> regular [reason=launch]");
    EXPECT_LT(indexOf(log, policyLines.first()), indexOf(log, "Permission setup required, showing guided flow"));
    EXPECT_TRUE(log.matching("AppDelegate: Failed to load").isEmpty());

    // The setup is shown, the Full Disk Access pane opened, and the pipeline is built all the same.
    ASSERT_NE(delegate->permissionWindow(), nullptr);
    EXPECT_TRUE(delegate->permissionWindow()->isVisible());
    EXPECT_EQ(delegate->permissionWindow()->title(), "Quillvex Setup");
    EXPECT_TRUE(delegate->isPermissionMonitoring());
    ASSERT_FALSE(workspace.openedUrls.empty());
    EXPECT_EQ(workspace.openedUrls.front().toString(),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles");
    EXPECT_TRUE(delegate->monitoringStarted());
    EXPECT_FALSE(delegate->deferredMonitoringAllowDatabaseDetection());
    EXPECT_NE(delegate->islandQueue(), nullptr);
    EXPECT_NE(delegate->islandWindowController(), nullptr);
    EXPECT_TRUE(detector.isRunning());
    EXPECT_TRUE(log.contains(
        "NotificationDetector: Full Disk Access unavailable, skipping database detector and starting UI fallback"));
    EXPECT_LT(indexOf(log, "Permission setup required, showing guided flow"),
              indexOf(log, "Starting notification monitoring"));
    EXPECT_EQ(log.matching("AppDelegate: Activation policy").last(),
              "AppDelegate: Activation policy unchanged (regular) [reason=runtime-started]");
    EXPECT_EQ(updater.starts, 1);
    EXPECT_EQ(application.iconChanges(), 1);
    EXPECT_EQ(application.activationPolicy(), ActivationPolicy::Regular);
}

TEST_F(AppDelegateTest, MissingAppIconIsWarnedAndStoredSourceIsCaseSensitive) {
    testsupport::FakeApplication bare;  // no icon resource
    auto env = environment();
    env.application = &bare;
    useSource("UI");
    AppDelegate other(env);
    other.applicationDidFinishLaunching();
    EXPECT_EQ(bare.iconChanges(), 0);
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning, "AppDelegate: Failed to load AppIcon.icns from app bundle"));
    EXPECT_EQ(other.detectionSourceRaw(), "database");
}

TEST_F(AppDelegateTest, UiSourceWithoutTrustWaitsForAccessibilityThenStarts) {
    useSource("ui");
    defaults().set(AppSettings::enableGlanceKey, false);
    launch();

    EXPECT_NE(delegate->permissionWindow(), nullptr);
    EXPECT_FALSE(detector.isRunning());
    EXPECT_FALSE(delegate->monitoringStarted());
    EXPECT_EQ(delegate->islandQueue(), nullptr);
    EXPECT_EQ(accessibility.promptCount(), 1);
    EXPECT_EQ(workspace.openedUrls.back().toString(),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");
    // No Full Disk Access snapshot is logged on the Accessibility road.
    EXPECT_TRUE(log.matching("FullDiskAccessManager[").isEmpty());
    EXPECT_EQ(application.activationPolicy(), ActivationPolicy::Regular);

    // Without a queue a signal is lost.
    bus.signalSubject.send(signal("Mail", "Lost"));
    scheduler().advance(0.8);
    EXPECT_FALSE(bus.overlayStateSubject.value().isVisible);
    EXPECT_TRUE(log.matching("IslandQueue: Received signal").isEmpty());
    EXPECT_FALSE(detector.isRunning());

    accessibility.setTrusted(true);
    scheduler().advance(0.8);
    EXPECT_EQ(delegate->permissionWindow(), nullptr);
    EXPECT_FALSE(delegate->isPermissionMonitoring());
    EXPECT_TRUE(detector.isRunning());
    EXPECT_TRUE(delegate->monitoringStarted());
    EXPECT_TRUE(delegate->deferredMonitoringAllowDatabaseDetection());
    EXPECT_TRUE(log.contains("AppDelegate: Activation policy -> accessory [reason=permission-monitoring-complete]"));

    bus.signalSubject.send(signal("Mail", "Hello"));
    EXPECT_TRUE(bus.overlayStateSubject.value().isVisible);
    EXPECT_EQ(bus.overlayStateSubject.value().message, "Hello");
}

TEST_F(AppDelegateTest, SecondRuntimeStartIsSilentAndTerminationLogsLast) {
    grantFullDiskAccess();
    launch();
    ASSERT_TRUE(delegate->monitoringStarted());
    EXPECT_EQ(delegate->permissionWindow(), nullptr);
    const auto notchCalls = notch.calls;
    const auto policyChanges = application.policyChanges().size();

    log.clear();
    delegate->startRuntime();
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(notch.calls, notchCalls);
    EXPECT_EQ(application.policyChanges().size(), policyChanges);

    application.terminate();
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.texts().last(), "Application terminating");
    EXPECT_FALSE(detector.isRunning());
    EXPECT_EQ(notch.calls.back(), "stop");
    EXPECT_EQ(updater.timerInvalidations, 1);
    // A second termination request does not run the shutdown again.
    application.terminate();
    EXPECT_EQ(log.count("Application terminating"), 1);
}

TEST_F(AppDelegateTest, PolicyRefreshLogsEveryCall) {
    grantFullDiskAccess();
    launch();
    delegate->refreshActivationPolicyForCurrentState("first");
    delegate->refreshActivationPolicyForCurrentState("second");
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy unchanged (accessory) [reason=second]");

    // A visible settings window keeps the application regular even with every permission.
    delegate->openSettings();
    delegate->refreshActivationPolicyForCurrentState("third");
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy unchanged (regular) [reason=third]");
}

TEST_F(AppDelegateTest, SettingsWindowOpensOnceAndRefreshesPolicyAfterClosing) {
    grantFullDiskAccess();
    defaults().set(L10n::languageKey, QStringLiteral("en"));
    launch();
    const size_t windowsBefore = application.windows().orderedWindows().size();

    delegate->openSettings();
    platform::Window* window = delegate->settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->title(), "Settings");
    EXPECT_EQ(window->contentSize(), QSize(760, 620));
    EXPECT_EQ(window->minSize(), QSize(700, 560));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isKey());
    EXPECT_TRUE(window->styleMask() & platform::WindowStyle::Resizable);
    EXPECT_EQ(log.count("AppDelegate: Settings window created"), 1);
    EXPECT_EQ(application.activationPolicy(), ActivationPolicy::Regular);

    delegate->openSettings();
    EXPECT_EQ(delegate->settingsWindow(), window);
    EXPECT_EQ(application.windows().orderedWindows().size(), windowsBefore + 1);
    EXPECT_EQ(log.count("AppDelegate: Settings window created"), 1);

    window->close();
    EXPECT_EQ(delegate->settingsWindow(), nullptr);
    scheduler().advance(0.09);
    EXPECT_TRUE(log.matching("AppDelegate: Activation policy -> accessory").isEmpty());
    scheduler().advance(0.02);
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy -> accessory [reason=settings-window-closed]");

    defaults().set(L10n::languageKey, QStringLiteral("ja"));
    delegate->openSettings();
    ASSERT_NE(delegate->settingsWindow(), nullptr);
    EXPECT_EQ(delegate->settingsWindow()->title(), "設定");
    EXPECT_EQ(log.count("AppDelegate: Settings window created"), 2);
}

TEST_F(AppDelegateTest, HiddenSettingsWindowIsReplacedAndHidingDoesNotCountAsClosing) {
    grantFullDiskAccess();
    launch();
    delegate->openSettings();
    platform::Window* first = delegate->settingsWindow();

    application.sessionDidResignActive().send();
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(delegate->settingsWindow(), first);  // still stored
    scheduler().advance(1);
    EXPECT_TRUE(log.matching("AppDelegate: Activation policy -> accessory").isEmpty());

    // Reopening the application opens settings again: the hidden window is replaced.
    application.handleReopen();
    ASSERT_NE(delegate->settingsWindow(), nullptr);
    EXPECT_NE(delegate->settingsWindow(), first);
    EXPECT_TRUE(delegate->settingsWindow()->isVisible());
    EXPECT_EQ(log.count("AppDelegate: Settings window created"), 2);
    EXPECT_FALSE(delegate->applicationShouldHandleReopen(true));
}

TEST_F(AppDelegateTest, FocusForSystemPromptPrefersSettingsThenFrontTitledWindow) {
    grantFullDiskAccess();
    makeDelegate();
    EXPECT_FALSE(delegate->focusWindowForSystemPrompt());
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning, "AppDelegate: No suitable key window available for system prompt"));
    EXPECT_EQ(application.activationPolicy(), ActivationPolicy::Regular);

    auto titled = application.makeWindow(QSize(300, 200), platform::WindowStyle::Titled);
    titled->setTitle("Behind");
    titled->makeKeyAndOrderFront();
    auto plain = application.makeWindow(QSize(300, 200), platform::WindowStyleMask());
    plain->setTitle("Front");
    plain->orderFrontRegardless();
    EXPECT_TRUE(delegate->focusWindowForSystemPrompt());
    EXPECT_EQ(log.texts().last(), "AppDelegate: Focused fallback window for system prompt (Behind)");

    delegate->openSettings();
    EXPECT_TRUE(delegate->focusWindowForSystemPrompt());
    EXPECT_EQ(log.texts().last(), "AppDelegate: Focused settings window for system prompt");
    EXPECT_EQ(application.windows().orderedWindows().front(), delegate->settingsWindow());
}

TEST_F(AppDelegateTest, GrantingFullDiskAccessRebuildsThePipelineWithTheDatabase) {
    defaults().set(AppSettings::enableGlanceKey, false);
    launch();
    ASSERT_NE(delegate->permissionWindow(), nullptr);
    IslandQueue* firstQueue = delegate->islandQueue();

    scheduler().advance(0.8);  // still missing: the poll goes on
    EXPECT_TRUE(delegate->isPermissionMonitoring());

    grantFullDiskAccess();
    scheduler().advance(0.8);
    EXPECT_EQ(delegate->permissionWindow(), nullptr);
    EXPECT_FALSE(delegate->isPermissionMonitoring());
    EXPECT_TRUE(delegate->deferredMonitoringAllowDatabaseDetection());
    EXPECT_NE(delegate->islandQueue(), firstQueue);
    EXPECT_EQ(log.count("Starting notification monitoring"), 2);
    EXPECT_TRUE(log.contains("Releasing previous IslandQueue instance"));
    EXPECT_TRUE(log.contains("Releasing previous IslandWindowController instance"));
    EXPECT_TRUE(log.contains("Releasing previous NotchWindowController instance"));
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy -> accessory [reason=permission-monitoring-complete]");
}

TEST_F(AppDelegateTest, ContinueWithoutFullDiskAccessRestartsWithoutTheDatabase) {
    defaults().set(AppSettings::enableGlanceKey, false);
    launch();
    auto* view = dynamic_cast<PermissionSetupView*>(delegate->permissionWindow()->contentView());
    ASSERT_NE(view, nullptr);
    const auto policyLines = log.matching("AppDelegate: Activation policy").size();

    bool pressed = false;
    for (const auto& button : view->model().buttons()) {
        if (button.title != "Continue With Limited Detection") continue;
        button.action();
        pressed = true;
    }
    ASSERT_TRUE(pressed);
    EXPECT_NE(delegate->permissionWindow(), nullptr);  // queued, not yet run
    scheduler().drain();
    EXPECT_EQ(delegate->permissionWindow(), nullptr);
    EXPECT_FALSE(delegate->isPermissionMonitoring());
    EXPECT_FALSE(delegate->deferredMonitoringAllowDatabaseDetection());
    EXPECT_EQ(log.count("Starting notification monitoring"), 2);
    EXPECT_EQ(log.matching("AppDelegate: Activation policy").size(), policyLines);
}

TEST_F(AppDelegateTest, NotchFeaturesFollowTheirSwitchAndSettings) {
    grantFullDiskAccess();
    defaults().set(AppSettings::enableSwitcherKey, false);
    launch();
    EXPECT_TRUE(delegate->isNotchRuntimeActive());
    // Every monitoring start stops the block first, then starts it in order.
    EXPECT_EQ(notch.calls, (std::vector<QString>{"stop", "core", "calendar", "weather"}));

    delegate->startNotchFeatures();
    EXPECT_EQ(notch.calls.size(), 4u);

    bus.hoverStateSubject.send(true);
    defaults().set(AppSettings::enableNotchFeaturesKey, false);
    EXPECT_FALSE(delegate->isNotchRuntimeActive());
    EXPECT_EQ(notch.calls.back(), "stop");
    EXPECT_FALSE(bus.hoverStateSubject.value());
    EXPECT_EQ(bus.notchModeSubject.value(), NotchMode::idle);

    notch.calendarGranted = false;
    defaults().set(AppSettings::enableNotchFeaturesKey, true);
    EXPECT_TRUE(delegate->isNotchRuntimeActive());
    EXPECT_EQ(notch.calls.back(), "weather");
    EXPECT_TRUE(log.contains("AppDelegate: CalendarService start deferred until the user grants calendar access"));

    // A change of any other setting ends at the comparison.
    log.clear();
    const auto calls = notch.calls;
    defaults().set(AppSettings::styleKey, QStringLiteral("singlePill"));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(notch.calls, calls);
}

TEST_F(AppDelegateTest, CalendarPendingAtRuntimeStartOpensSettings) {
    grantFullDiskAccess();
    notch.calendarGranted = false;
    launch();
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning,
                             "AppDelegate: Calendar permission is pending; continuing startup with calendar glance disabled"));
    ASSERT_NE(delegate->settingsWindow(), nullptr);
    EXPECT_TRUE(delegate->monitoringStarted());
    // Opening settings made the application regular already.
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy unchanged (regular) [reason=runtime-started]");
}

TEST_F(AppDelegateTest, SwitchingToUiWithoutTrustStopsDetectionAndShowsSetup) {
    grantFullDiskAccess();
    launch();
    ASSERT_TRUE(detector.isRunning());

    useSource("ui");
    EXPECT_FALSE(detector.isRunning());
    EXPECT_FALSE(delegate->monitoringStarted());
    EXPECT_NE(delegate->permissionWindow(), nullptr);
    EXPECT_EQ(delegate->detectionSourceRaw(), "ui");

    // Resuming after the calendar flow starts monitoring without the Accessibility gate.
    delegate->resumeMonitoringAfterCalendarPermissionFlow();
    EXPECT_TRUE(log.contains("AppDelegate: Resuming deferred monitoring after calendar permission flow"));
    EXPECT_TRUE(delegate->monitoringStarted());
    EXPECT_TRUE(log.texts().last().endsWith("[reason=calendar-permission-flow-resolved]"));
    delegate->resumeMonitoringAfterCalendarPermissionFlow();
    EXPECT_EQ(log.texts().last(), "AppDelegate: Monitoring already running when calendar permission flow resolved");
}

TEST_F(AppDelegateTest, PollTickAfterTheDelegateIsGoneDoesNothing) {
    useSource("ui");
    launch();
    ASSERT_TRUE(delegate->isPermissionMonitoring());
    delegate.reset();
    accessibility.setTrusted(true);
    log.clear();
    scheduler().advance(2);
    EXPECT_TRUE(log.matching("Starting notification monitoring").isEmpty());
    EXPECT_FALSE(detector.isRunning());
}
