#include "detection/notification_detector.h"

#include "core/app_settings.h"
#include "support/fake_accessibility.h"
#include "test_database_fixture.h"

using platform::LogLevel;
using testsupport::FakeAXNode;

namespace {

const QString kStarting = QStringLiteral("NotificationDetector: ===== STARTING NOTIFICATION DETECTION =====");
const QString kStarted = QStringLiteral("NotificationDetector: ===== DETECTION STARTED =====");
const QString kFullDiskAccessWarning = QStringLiteral(
    "NotificationDetector: Full Disk Access unavailable, skipping database detector and starting UI fallback");
const QString kObserverFailedFallback =
    QStringLiteral("NotificationDetector: ✗ AXObserver failed, falling back to polling");
const QString kPollingFallbackStarted = QStringLiteral("NotificationDetector: ✓ Polling detector started (UI-based)");
const QString kDatabaseStarted =
    QStringLiteral("NotificationDetector: ✓ Database detector started (detects banner-off notifications)");
const QString kDatabaseUnavailable = QStringLiteral(
    "NotificationDetector: ✗ Database detector not available (likely Full Disk Access). Falling back to UI detection.");

// The database fixture's home, store and fakes, plus scripted accessibility; every detector the
// orchestrator builds uses them.
class NotificationDetectorTest : public DatabaseDetectorTest {
protected:
    NotificationDetectorTest() { ax.setTrusted(true); }

    NotificationDetector::Factories factories() {
        return {
            [this] {
                ++observersBuilt;
                return std::make_unique<AXObserverDetector>(bus, ax, workspace, scheduler());
            },
            [this] {
                ++pollersBuilt;
                return std::make_unique<PollingDetector>(bus, scheduler(), [this] {
                    return AXTreeSnapshot::take({ax, workspace, scheduler()});
                });
            },
            [this] {
                ++databasesBuilt;
                return makeDetector();
            },
        };
    }
    std::unique_ptr<NotificationDetector> make(DetectionMode mode = DetectionMode::auto_) {
        return std::make_unique<NotificationDetector>(mode, factories());
    }
    void setSource(const QString& text) { defaults().set(AppSettings::detectionSourceKey, text); }
    void addNotificationCenter() {
        workspace.addApplication(400, QStringLiteral("com.apple.notificationcenterui"),
                                 QStringLiteral("Notification Center"));
    }
    // The orchestrator's own lines, in order.
    QStringList ownLines() const { return log.matching(QStringLiteral("NotificationDetector: ")); }

    testsupport::FakeAccessibility ax;
    int observersBuilt = 0;
    int pollersBuilt = 0;
    int databasesBuilt = 0;
};

TEST_F(NotificationDetectorTest, TheUiSourceFallsBackToPollingWhenTheObserverFails) {
    setSource(QStringLiteral("ui"));
    auto detector = make();
    detector->start(true);

    EXPECT_EQ(ownLines(), (QStringList{kStarting, kObserverFailedFallback, kPollingFallbackStarted, kStarted}));
    EXPECT_TRUE(log.contains(LogLevel::Info, kObserverFailedFallback));
    EXPECT_TRUE(log.contains(QStringLiteral("AXObserverDetector: Notification Center process not found")));
    EXPECT_TRUE(detector->isRunning());
    EXPECT_NE(detector->pollingDetector(), nullptr);
    EXPECT_EQ(detector->observerDetector(), nullptr);
    EXPECT_EQ(databasesBuilt, 0);
}

TEST_F(NotificationDetectorTest, TheUiSourceKeepsARunningObserver) {
    setSource(QStringLiteral("ui"));
    addNotificationCenter();
    auto detector = make();
    detector->start(false);

    EXPECT_EQ(ownLines(), (QStringList{kStarting, QStringLiteral("NotificationDetector: ✓ AXObserver detector started"),
                                       kStarted}));
    EXPECT_NE(detector->observerDetector(), nullptr);
    EXPECT_EQ(pollersBuilt, 0);
}

TEST_F(NotificationDetectorTest, TheDatabaseSourceWithoutPermissionStartsTheUiFallback) {
    setSource(QStringLiteral("database"));
    store();
    auto detector = make();
    detector->start(false);

    EXPECT_TRUE(log.contains(LogLevel::Warning, kFullDiskAccessWarning));
    EXPECT_EQ(databasesBuilt, 0);
    EXPECT_TRUE(detector->isRunning());
    EXPECT_NE(detector->pollingDetector(), nullptr);
    EXPECT_EQ(ownLines().last(), kStarted);
}

TEST_F(NotificationDetectorTest, AnyOtherSourceTextTakesTheDatabaseRoad) {
    store();
    for (const std::optional<QString>& source :
         {std::optional<QString>(), std::optional(QStringLiteral("UI")), std::optional(QStringLiteral("db"))}) {
        if (source)
            setSource(*source);
        else
            defaults().remove(AppSettings::detectionSourceKey);
        log.clear();
        auto detector = make();
        detector->start(true);
        EXPECT_EQ(ownLines(), (QStringList{kStarting, kDatabaseStarted, kStarted}))
            << source.value_or("<absent>").toStdString();
        EXPECT_NE(detector->databaseDetector(), nullptr);
        EXPECT_EQ(observersBuilt + pollersBuilt, 0);
        detector->stop();
    }
}

TEST_F(NotificationDetectorTest, AFailingDatabaseDetectorFallsBackInTheSameCall) {
    auto detector = make();  // no store under the home folder
    detector->start(true);

    EXPECT_EQ(ownLines(), (QStringList{kStarting, kDatabaseUnavailable, kObserverFailedFallback,
                                       kPollingFallbackStarted, kStarted}));
    EXPECT_TRUE(log.contains(LogLevel::Warning, kDatabaseUnavailable));
    EXPECT_EQ(detector->databaseDetector(), nullptr);
    EXPECT_NE(detector->pollingDetector(), nullptr);
}

TEST_F(NotificationDetectorTest, StartWhileRunningOnlyLogs) {
    store();
    auto detector = make();
    detector->start(true);
    const NotificationDatabaseDetector* running = detector->databaseDetector();
    ASSERT_NE(running, nullptr);

    setSource(QStringLiteral("ui"));
    log.clear();
    detector->start(true);
    EXPECT_EQ(log.texts(), QStringList{QStringLiteral("NotificationDetector: Already running")});
    EXPECT_TRUE(log.contains(LogLevel::Warning, QStringLiteral("NotificationDetector: Already running")));
    EXPECT_EQ(detector->databaseDetector(), running);
    EXPECT_EQ(databasesBuilt, 1);
}

TEST_F(NotificationDetectorTest, StopStopsAndDropsTheRunningDetector) {
    auto detector = make();
    detector->stop();  // stopped: nothing to do, nothing logged
    EXPECT_TRUE(log.lines().empty());

    store();
    detector->start(true);
    ASSERT_EQ(watcher.activeWatchCount(), 1);
    detector->stop();
    EXPECT_FALSE(detector->isRunning());
    EXPECT_EQ(detector->databaseDetector(), nullptr);
    EXPECT_TRUE(log.contains(QStringLiteral("NotificationDatabaseDetector: Stopped")));
    EXPECT_EQ(watcher.activeWatchCount(), 0);
    EXPECT_EQ(scheduler().pendingCount(), 0u);

    // A restart follows the source as stored now.
    setSource(QStringLiteral("ui"));
    detector->start(true);
    ASSERT_NE(detector->pollingDetector(), nullptr);
    detector->stop();
    EXPECT_TRUE(log.contains(QStringLiteral("PollingDetector: Stopped")));
    EXPECT_EQ(detector->pollingDetector(), nullptr);
    EXPECT_EQ(scheduler().pendingCount(), 0u);
}

TEST_F(NotificationDetectorTest, TheRunningFallbackPublishesNewNotifications) {
    setSource(QStringLiteral("ui"));
    auto detector = make();
    detector->start(true);  // no Notification Center yet: polling

    workspace.addApplication(400, QStringLiteral("com.apple.notificationcenterui"), std::nullopt);
    ax.addWindow(400, FakeAXNode(QStringLiteral("AXGroup"))
                          .subrole(QStringLiteral("AXNotificationCenterBanner"))
                          .child(FakeAXNode(QStringLiteral("AXStaticText")).value(QStringLiteral("Build passed"))));
    scheduler().advance(0.8);  // baseline
    scheduler().advance(0.8);
    ASSERT_EQ(received.size(), 0u);
    ax.addWindow(400, FakeAXNode(QStringLiteral("AXGroup")).subrole(QStringLiteral("AXNotificationCenterBanner")));
    scheduler().advance(0.8);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received.front().confidence, SignalConfidence::normal);
}

TEST_F(NotificationDetectorTest, TheOtherModesChooseOneDetectorOnly) {
    setSource(QStringLiteral("ui"));
    auto observerOnly = make(DetectionMode::observerOnly);
    observerOnly->start(true);
    EXPECT_FALSE(observerOnly->isRunning());
    EXPECT_TRUE(log.contains(LogLevel::Warning, QStringLiteral("NotificationDetector: ✗ AXObserver detector failed")));
    EXPECT_TRUE(log.contains(LogLevel::Warning, QStringLiteral("NotificationDetector: No detector started")));
    EXPECT_EQ(pollersBuilt, 0);

    auto pollingOnly = make(DetectionMode::pollingOnly);
    addNotificationCenter();
    pollingOnly->start(true);
    EXPECT_TRUE(pollingOnly->isRunning());
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("NotificationDetector: ✓ Polling detector started")));
    EXPECT_EQ(observersBuilt, 1);  // only the observer-only attempt
    pollingOnly->stop();
}

TEST(NotificationDetectorOnLinuxTest, TheUiRoadFindsNoNotificationProcessAndPollsWithoutReadings) {
    testsupport::ScopedVirtualScheduler clock;
    testsupport::ScopedMemoryDefaults memory;
    testsupport::LogCapture log;
    memory.defaults.set(AppSettings::detectionSourceKey, QStringLiteral("ui"));
    EventBus bus(clock.scheduler);
    int signalsSent = 0;
    auto subscription = bus.signalSubject.sink([&](const NotificationSignal&) { ++signalsSent; });

    // The shared ports as the app has them here: the null accessibility backend and the desktop.
    NotificationDetector detector(DetectionMode::auto_,
                                  {[&] { return std::make_unique<AXObserverDetector>(bus); },
                                   [&] { return std::make_unique<PollingDetector>(bus, clock.scheduler); },
                                   [] { return std::unique_ptr<NotificationDatabaseDetector>(); }});
    detector.start(true);
    EXPECT_TRUE(log.contains(QStringLiteral("AXObserverDetector: Notification Center process not found")));
    EXPECT_TRUE(log.contains(kObserverFailedFallback));
    EXPECT_TRUE(detector.isRunning());
    clock.scheduler.advance(4);
    EXPECT_EQ(signalsSent, 0);
    detector.stop();
}

}  // namespace
