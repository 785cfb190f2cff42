#include "app_delegate_fixture.h"

#include "core/l10n.h"
#include "overlay/island_view.h"
#include "overlay/island_window_controller.h"
#include "settings_ui/settings_view.h"
#include "settings_ui/ui_settings_tab.h"
#include "tools/notification_store.h"

#include <QPushButton>

using apptest::AppDelegateTest;
using platform::ActivationPolicy;
using platform::CalendarAuthorizationStatus;

namespace {

NotificationSignal signal(const QString& message) {
    return NotificationSignal{QUuid::createUuid(), QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC),
                              SignalConfidence::strong, QStringLiteral("Mail"), message, std::nullopt, std::nullopt,
                              false};
}

}  // namespace

TEST_F(AppDelegateTest, FirstLaunchWithoutStoreShowsSetupMonitorsAndRebuildsOnceGranted) {
    application.addImageResource(QStringLiteral("AppIcon.icns"));
    launch();

    const QStringList lines = log.texts();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "Application launched");
    EXPECT_TRUE(lines[1].startsWith("RuntimeSigning[launch]: bundleID="));
    // Only the snapshot the policy rule takes comes between the signing line and the policy line.
    const auto policy = lines.indexOf("AppDelegate: Activation policy -> regular [reason=launch]");
    ASSERT_GT(policy, 1);
    for (qsizetype i = 2; i < policy; ++i) EXPECT_TRUE(lines[i].startsWith("FullDiskAccessManager[check]: "));
    EXPECT_EQ(lines[policy + 1], "Permission setup required, showing guided flow");
    EXPECT_EQ(application.iconChanges(), 1);
    EXPECT_EQ(updater.starts, 1);

    // The setup is shown and the Full Disk Access pane opened; the pipeline is built all the same.
    ASSERT_NE(delegate->permissionWindow(), nullptr);
    EXPECT_TRUE(delegate->permissionWindow()->isVisible());
    EXPECT_EQ(delegate->permissionWindow()->title(), "Quillvex Setup");
    EXPECT_EQ(workspace.openedUrls,
              std::vector<QUrl>{QUrl("x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles")});
    EXPECT_TRUE(delegate->monitoringStarted());
    EXPECT_FALSE(delegate->deferredMonitoringAllowDatabaseDetection());
    EXPECT_NE(delegate->islandQueue(), nullptr);
    EXPECT_NE(delegate->islandWindowController(), nullptr);
    EXPECT_TRUE(log.contains(
        "NotificationDetector: Full Disk Access unavailable, skipping database detector and starting UI fallback"));
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy unchanged (regular) [reason=runtime-started]");

    IslandQueue* firstQueue = delegate->islandQueue();
    scheduler().advance(0.8);  // still missing: the poll goes on
    EXPECT_TRUE(delegate->isPermissionMonitoring());
    ASSERT_TRUE(grantFullDiskAccess());
    scheduler().advance(0.8);
    EXPECT_EQ(delegate->permissionWindow(), nullptr);
    EXPECT_FALSE(delegate->isPermissionMonitoring());
    EXPECT_TRUE(delegate->deferredMonitoringAllowDatabaseDetection());
    EXPECT_NE(delegate->islandQueue(), firstQueue);
    EXPECT_EQ(log.count("Starting notification monitoring"), 2);
    for (const char* kind : {"IslandQueue", "IslandWindowController", "NotchWindowController"}) {
        EXPECT_TRUE(log.contains(QStringLiteral("Releasing previous %1 instance").arg(QLatin1String(kind))));
    }
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy -> accessory [reason=permission-monitoring-complete]");
}

TEST_F(AppDelegateTest, TrustedUiSourceNeedsNoStoreAndShowsNoSetup) {
    useSource("ui");
    accessibility.setTrusted(true);
    defaults().set(AppSettings::enableGlanceKey, false);
    launch();
    EXPECT_EQ(delegate->permissionWindow(), nullptr);
    EXPECT_TRUE(delegate->monitoringStarted());
    EXPECT_EQ(application.activationPolicy(), ActivationPolicy::Accessory);
}

TEST_F(AppDelegateTest, UiSourceWithoutTrustWaitsForAccessibilityThenStarts) {
    useSource("ui");
    defaults().set(AppSettings::enableGlanceKey, false);
    launch();

    EXPECT_NE(delegate->permissionWindow(), nullptr);
    EXPECT_FALSE(delegate->monitoringStarted());
    EXPECT_EQ(delegate->islandQueue(), nullptr);
    EXPECT_EQ(accessibility.promptCount(), 1);
    EXPECT_EQ(workspace.openedUrls.back().toString(),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");
    // The Accessibility road takes no Full Disk Access snapshot.
    EXPECT_TRUE(log.matching("FullDiskAccessManager[").isEmpty());
    // Its button asks for accessibility again (it switches the desktop's accessibility on), and
    // opens no other window.
    auto* view = dynamic_cast<PermissionSetupView*>(delegate->permissionWindow()->contentView());
    ASSERT_NE(view, nullptr);
    view->footerButtons().front()->click();
    EXPECT_EQ(accessibility.promptCount(), 2);
    EXPECT_EQ(delegate->settingsWindow(), nullptr);

    // Without a queue a signal is lost.
    bus.signalSubject.send(signal("Lost"));
    scheduler().advance(0.8);
    EXPECT_FALSE(bus.overlayStateSubject.value().isVisible);
    EXPECT_FALSE(detector.isRunning());

    accessibility.setTrusted(true);
    scheduler().advance(0.8);
    EXPECT_EQ(delegate->permissionWindow(), nullptr);
    EXPECT_FALSE(delegate->isPermissionMonitoring());
    EXPECT_TRUE(detector.isRunning());
    EXPECT_TRUE(delegate->deferredMonitoringAllowDatabaseDetection());
    EXPECT_TRUE(log.contains("AppDelegate: Activation policy -> accessory [reason=permission-monitoring-complete]"));

    bus.signalSubject.send(signal("Hello"));
    EXPECT_EQ(bus.overlayStateSubject.value().message, "Hello");
}

TEST_F(AppDelegateTest, SecondRuntimeStartIsSilentRefreshesAlwaysLogAndTerminationLogsLast) {
    ASSERT_TRUE(grantFullDiskAccess());
    useSource("UI");  // letter case counts: this is the database source
    launch();
    EXPECT_EQ(delegate->detectionSourceRaw(), "database");
    ASSERT_TRUE(delegate->monitoringStarted());
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning, "AppDelegate: Failed to load AppIcon.icns from app bundle"));
    const auto notchCalls = notch.calls;

    log.clear();
    delegate->startRuntime();
    EXPECT_TRUE(log.lines().empty());  // every policy refresh logs, so there was none
    EXPECT_EQ(notch.calls, notchCalls);

    delegate->refreshActivationPolicyForCurrentState("first");
    delegate->refreshActivationPolicyForCurrentState("second");
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy unchanged (accessory) [reason=second]");

    application.terminate();
    application.terminate();  // the shutdown runs once
    EXPECT_EQ(log.texts().last(), "Application terminating");
    EXPECT_EQ(log.count("Application terminating"), 1);
    EXPECT_FALSE(detector.isRunning());
    // What is still starting is given up before everything stops.
    ASSERT_GE(notch.calls.size(), 2u);
    EXPECT_EQ(notch.calls[notch.calls.size() - 2], "exit");
    EXPECT_EQ(notch.calls.back(), "stop");
    EXPECT_EQ(updater.timerInvalidations, 1);
}

// The event loop turns on after the last line until the quit is taken: the overlay, left on
// screen, neither takes a notification nor adopts a state nor logs meanwhile.
TEST_F(AppDelegateTest, NothingOfTheOverlayRunsOnAfterTheLastLine) {
    ASSERT_TRUE(grantFullDiskAccess());
    launch();
    ASSERT_NE(delegate->islandWindowController(), nullptr);
    auto* view = dynamic_cast<IslandView*>(delegate->islandWindowController()->window()->contentView());
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->hasPendingHiddenState());  // the bus's first state, adopted once the shrink played

    application.terminate();
    bus.signalSubject.send(signal("After the end"));
    scheduler().advance(AppSettings::maxDisplayTimeout + 1);
    EXPECT_EQ(log.texts().last(), "Application terminating");
    EXPECT_FALSE(bus.overlayStateSubject.value().isVisible);
    EXPECT_FALSE(view->hasPendingHiddenState());
}

TEST_F(AppDelegateTest, SettingsWindowOpensOnceKeepsThePolicyRegularAndIsReplacedWhenHidden) {
    ASSERT_TRUE(grantFullDiskAccess());
    defaults().set(L10n::languageKey, QStringLiteral("en"));
    launch();
    EXPECT_FALSE(delegate->focusWindowForSystemPrompt());
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning, "AppDelegate: No suitable key window available for system prompt"));
    EXPECT_EQ(application.activationPolicy(), ActivationPolicy::Regular);  // set before looking

    delegate->openSettings();
    delegate->openSettings();  // brings the visible window forward only
    platform::Window* window = delegate->settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->title(), "Settings");
    EXPECT_EQ(window->contentSize(), QSize(760, 620));
    EXPECT_EQ(window->minSize(), QSize(700, 560));
    EXPECT_EQ(log.count("AppDelegate: Settings window created"), 1);

    // It hosts the tabs on General; looking through them writes nothing, and the UI tab writes
    // into the delegate's own store.
    QStringList written;
    auto subscription = defaults().didChange().sink([&](const QString& key) { written << key; });
    auto* view = dynamic_cast<SettingsView*>(window->contentView());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->selectedTab(), SettingsView::generalTab);
    for (int tag = 1; tag <= 8; ++tag) view->setSelectedTab(tag);
    EXPECT_TRUE(written.isEmpty()) << written.join(',').toStdString();
    auto* tab = dynamic_cast<UISettingsTab*>(view->tabPage(2));
    ASSERT_NE(tab, nullptr);
    tab->model().chooseStyle(3);
    EXPECT_EQ(defaults().stringValue(QStringLiteral("overlayStyle")), "liquidGlass");
    delegate->refreshActivationPolicyForCurrentState("open");
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy unchanged (regular) [reason=open]");

    window->close();
    EXPECT_EQ(delegate->settingsWindow(), nullptr);
    scheduler().advance(0.09);
    EXPECT_TRUE(log.matching("AppDelegate: Activation policy -> accessory").isEmpty());
    scheduler().advance(0.02);
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy -> accessory [reason=settings-window-closed]");

    defaults().set(L10n::languageKey, QStringLiteral("ja"));
    delegate->openSettings();
    platform::Window* second = delegate->settingsWindow();
    EXPECT_EQ(second->title(), "設定");
    view = dynamic_cast<SettingsView*>(second->contentView());  // a new window, on General again
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->selectedTab(), SettingsView::generalTab);

    // A user switch hides the window without closing it; a reopen then replaces it.
    application.sessionDidResignActive().send();
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(delegate->settingsWindow(), second);
    scheduler().advance(1);
    EXPECT_EQ(log.count("AppDelegate: Activation policy -> accessory [reason=settings-window-closed]"), 1);
    application.handleReopen();
    EXPECT_NE(delegate->settingsWindow(), second);
    EXPECT_TRUE(delegate->settingsWindow()->isVisible());
    delegate->settingsWindow()->orderOut();
    EXPECT_EQ(log.count("AppDelegate: Settings window created"), 3);
    EXPECT_FALSE(delegate->applicationShouldHandleReopen(true));

    // Before a system prompt the settings window wins over any other; without it, the frontmost
    // visible window with a title bar.
    auto titled = application.makeWindow(QSize(300, 200), platform::WindowStyle::Titled);
    titled->setTitle("Behind");
    titled->makeKeyAndOrderFront();
    EXPECT_TRUE(delegate->focusWindowForSystemPrompt());
    EXPECT_EQ(log.texts().last(), "AppDelegate: Focused settings window for system prompt");
    EXPECT_EQ(application.windows().orderedWindows().front(), delegate->settingsWindow());
    delegate->settingsWindow()->orderOut();
    application.makeWindow(QSize(300, 200), platform::WindowStyleMask())->orderFrontRegardless();
    EXPECT_TRUE(delegate->focusWindowForSystemPrompt());
    EXPECT_EQ(log.texts().last(), "AppDelegate: Focused fallback window for system prompt (Behind)");
}

TEST_F(AppDelegateTest, ContinueWithoutFullDiskAccessRestartsWithoutTheDatabase) {
    defaults().set(AppSettings::enableGlanceKey, false);
    launch();
    auto* view = dynamic_cast<PermissionSetupView*>(delegate->permissionWindow()->contentView());
    ASSERT_NE(view, nullptr);
    const auto policyLines = log.matching("AppDelegate: Activation policy").size();
    ASSERT_EQ(view->footerButtons()[3]->text(), "Continue With Limited Detection");
    view->footerButtons()[3]->click();
    EXPECT_NE(delegate->permissionWindow(), nullptr);  // queued, not yet run
    scheduler().drain();
    EXPECT_EQ(delegate->permissionWindow(), nullptr);
    EXPECT_FALSE(delegate->isPermissionMonitoring());
    EXPECT_FALSE(delegate->deferredMonitoringAllowDatabaseDetection());
    EXPECT_EQ(log.count("Starting notification monitoring"), 2);
    EXPECT_EQ(log.matching("AppDelegate: Activation policy").size(), policyLines);
}

TEST_F(AppDelegateTest, NotchFeaturesFollowTheirSwitchAndSettingsAndLeaveDetectionAlone) {
    ASSERT_TRUE(grantFullDiskAccess());
    defaults().set(AppSettings::enableSwitcherKey, false);
    launch();
    // Every monitoring start stops the block first, then starts it in order.
    EXPECT_EQ(notch.calls, (std::vector<QString>{"stop", "core", "calendar", "weather"}));
    delegate->startNotchFeatures();
    EXPECT_EQ(notch.calls.size(), 4u);

    // Switched off, hover stops before the mode goes idle; detection is left alone throughout.
    const auto detectionStarts = log.count("NotificationDetector: ===== STARTING NOTIFICATION DETECTION =====");
    ASSERT_EQ(detectionStarts, 1);
    const auto monitoringStarts = log.count("Starting notification monitoring");
    bus.hoverStateSubject.send(true);
    std::vector<QString> order;
    auto hover = bus.hoverStateSubject.sink([&](bool h) { order.push_back(h ? "hover" : "no-hover"); });
    auto mode = bus.notchModeSubject.sink([&](NotchMode m) { order.push_back(m == NotchMode::idle ? "idle" : "other"); });
    order.clear();
    defaults().set(AppSettings::enableNotchFeaturesKey, false);
    EXPECT_FALSE(delegate->isNotchRuntimeActive());
    EXPECT_EQ(notch.calls.back(), "stop");
    EXPECT_EQ(order, (std::vector<QString>{"no-hover", "idle"}));

    notch.calendarGranted = false;
    defaults().set(AppSettings::enableNotchFeaturesKey, true);
    EXPECT_TRUE(delegate->isNotchRuntimeActive());
    EXPECT_EQ(notch.calls.back(), "weather");
    EXPECT_EQ(log.count("NotificationDetector: ===== STARTING NOTIFICATION DETECTION ====="), detectionStarts);
    EXPECT_EQ(log.count("Starting notification monitoring"), monitoringStarts);
    EXPECT_TRUE(detector.isRunning());
    EXPECT_TRUE(log.contains("AppDelegate: CalendarService start deferred until the user grants calendar access"));

    // A change of any other setting ends at the comparison.
    log.clear();
    const auto calls = notch.calls;
    defaults().set(AppSettings::styleKey, QStringLiteral("singlePill"));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(notch.calls, calls);
}

TEST_F(AppDelegateTest, WithGlanceOffOrWithoutAStoreToAskTheStartOpensNoSettingsForCalendarAccess) {
    ASSERT_TRUE(grantFullDiskAccess());
    notch.calendarGranted = false;
    defaults().set(AppSettings::enableGlanceKey, false);
    launch();
    EXPECT_EQ(notch.calls, (std::vector<QString>{"stop", "core", "switcher"}));  // neither calendar nor weather
    EXPECT_EQ(delegate->settingsWindow(), nullptr);

    // No request could reach a store that is not there or does not answer.
    defaults().set(AppSettings::enableGlanceKey, true);
    const std::pair<platform::CalendarStoreProblem, const char*> problems[] = {
        {platform::CalendarStoreProblem::noSessionBus,
         "AppDelegate: No session bus for the calendar store; continuing startup with calendar glance disabled"},
        {platform::CalendarStoreProblem::notInstalled,
         "AppDelegate: No calendar store on the session bus; continuing startup with calendar glance disabled"},
        {platform::CalendarStoreProblem::unreachable,
         "AppDelegate: The calendar store does not answer; continuing startup with calendar glance disabled"},
    };
    for (const auto& [problem, line] : problems) {
        SCOPED_TRACE(line);
        delegate.reset();
        log.clear();
        notch.storeProblem = problem;
        launch();
        EXPECT_EQ(delegate->settingsWindow(), nullptr);
        EXPECT_TRUE(log.contains(platform::LogLevel::Warning, line));
        EXPECT_FALSE(log.contains("AppDelegate: Calendar permission is pending; continuing startup with calendar glance "
                                  "disabled"));
        EXPECT_TRUE(delegate->monitoringStarted());
    }
}

// The store still being reached holds back only the calendar service and the access check.
TEST_F(AppDelegateTest, WhileTheCalendarStoreConnectsTheStartGoesOnAndTheAnswerFinishesIt) {
    ASSERT_TRUE(grantFullDiskAccess());
    defaults().set(AppSettings::enableSwitcherKey, false);
    notch.calendarGranted = false;
    calendarStore.pending = true;
    launch();
    EXPECT_EQ(notch.calls, (std::vector<QString>{"stop", "core", "weather"}));
    EXPECT_TRUE(log.contains("Monitoring started successfully"));
    EXPECT_FALSE(log.contains("AppDelegate: CalendarService start deferred until the user grants calendar access"));
    EXPECT_EQ(delegate->settingsWindow(), nullptr);
    notch.calendarGranted = true;
    calendarStore.answer(CalendarAuthorizationStatus::fullAccess);
    EXPECT_EQ(notch.calls.back(), "calendar");
    EXPECT_EQ(delegate->settingsWindow(), nullptr);
    calendarStore.answer(CalendarAuthorizationStatus::fullAccess);  // answered once
    EXPECT_EQ(std::count(notch.calls.begin(), notch.calls.end(), "calendar"), 1);

    // A refusal ends as a known one would at start; features stopped meanwhile start no calendar.
    delegate.reset();
    notch.calls.clear();
    notch.calendarGranted = false;
    calendarStore.pending = true;
    launch();
    calendarStore.answer(CalendarAuthorizationStatus::notDetermined);
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning,
                             "AppDelegate: Calendar permission is pending; continuing startup with calendar glance disabled"));
    EXPECT_NE(delegate->settingsWindow(), nullptr);
    EXPECT_TRUE(log.contains("AppDelegate: CalendarService start deferred until the user grants calendar access"));
    calendarStore.pending = true;
    defaults().set(AppSettings::enableNotchFeaturesKey, false);
    defaults().set(AppSettings::enableNotchFeaturesKey, true);  // restarted while the store connects
    delegate->stopNotchFeatures();
    notch.calendarGranted = true;
    calendarStore.answer(CalendarAuthorizationStatus::fullAccess);
    EXPECT_EQ(std::count(notch.calls.begin(), notch.calls.end(), "calendar"), 0);
}

TEST_F(AppDelegateTest, CalendarPendingOpensSettingsAndSwitchingToUiWaitsUntilResumed) {
    ASSERT_TRUE(grantFullDiskAccess());
    notch.calendarGranted = false;
    launch();
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning,
                             "AppDelegate: Calendar permission is pending; continuing startup with calendar glance disabled"));
    EXPECT_NE(delegate->settingsWindow(), nullptr);
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy unchanged (regular) [reason=runtime-started]");

    useSource("ui");
    EXPECT_FALSE(detector.isRunning());
    EXPECT_FALSE(delegate->monitoringStarted());
    EXPECT_TRUE(delegate->isPermissionMonitoring());

    // Resuming after the calendar flow starts monitoring without the Accessibility gate.
    delegate->resumeMonitoringAfterCalendarPermissionFlow();
    EXPECT_TRUE(log.contains("AppDelegate: Resuming deferred monitoring after calendar permission flow"));
    EXPECT_TRUE(delegate->monitoringStarted());
    EXPECT_TRUE(log.texts().last().endsWith("[reason=calendar-permission-flow-resolved]"));
    delegate->resumeMonitoringAfterCalendarPermissionFlow();
    EXPECT_EQ(log.texts().last(), "AppDelegate: Monitoring already running when calendar permission flow resolved");

    // The poll goes on beside the pipeline; once the delegate is gone its ticks do nothing.
    delegate.reset();
    accessibility.setTrusted(true);
    log.clear();
    scheduler().advance(2);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(AppDelegateTest, OnceTheStoreOpensThePollSwapsTheFallbackForTheDatabase) {
    defaults().set(AppSettings::enableGlanceKey, false);
    launch();
    ASSERT_TRUE(detector.isRunning());
    EXPECT_EQ(detector.databaseDetector(), nullptr);

    notificationstore::Writer store(storePath());
    ASSERT_TRUE(store.isOpen()) << store.error().toStdString();
    scheduler().advance(0.8);
    EXPECT_FALSE(log.contains("NotificationDetector: Already running"));
    ASSERT_NE(detector.databaseDetector(), nullptr);
    EXPECT_EQ(detector.observerDetector(), nullptr);
    EXPECT_EQ(detector.pollingDetector(), nullptr);

    // What arrives in the store now reaches the overlay.
    const auto record = notificationstore::notificationRecord(QStringLiteral("com.example.Mail"), QStringLiteral("Lunch?"));
    ASSERT_TRUE(store.appendRecord(QStringLiteral("com.example.Mail"), notificationstore::encodePropertyList(record)));
    for (const QString& path : fileWatcher.watchedPaths()) fileWatcher.fire(path);
    scheduler().advance(2);
    EXPECT_EQ(bus.overlayStateSubject.value().message, QStringLiteral("Lunch?"))
        << log.texts().join('\n').toStdString();
}

TEST_F(AppDelegateTest, AVisibleSetupWindowKeepsThePolicyRegularAndAUserSwitchHidesIt) {
    defaults().set(AppSettings::enableGlanceKey, false);
    launch();
    ASSERT_NE(delegate->permissionWindow(), nullptr);
    // Access arrives, but the window is still up until the next poll.
    ASSERT_TRUE(grantFullDiskAccess());
    delegate->refreshActivationPolicyForCurrentState("probe");
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy unchanged (regular) [reason=probe]");

    application.sessionDidResignActive().send();
    EXPECT_FALSE(delegate->permissionWindow()->isVisible());
    delegate->refreshActivationPolicyForCurrentState("hidden");
    EXPECT_EQ(log.texts().last(), "AppDelegate: Activation policy -> accessory [reason=hidden]");
}
