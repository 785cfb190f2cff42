#include "detection/notification_detector.h"

#include "core/app_settings.h"
#include "support/fake_accessibility.h"
#include "test_database_fixture.h"

namespace {

QString own(const char* text) { return QStringLiteral("NotificationDetector: ") + QString::fromUtf8(text); }
const QString kStarting = own("===== STARTING NOTIFICATION DETECTION =====");
const QString kStarted = own("===== DETECTION STARTED =====");
const QString kObserverFailed = own("✗ AXObserver failed, falling back to polling");
const QString kPollingStarted = own("✓ Polling detector started (UI-based)");

// The database fixture's home, store and fakes, plus scripted accessibility; every detector the
// orchestrator builds uses them, and each logs its start, so the log tells which were built.
class NotificationDetectorTest : public DatabaseDetectorTest {
protected:
    NotificationDetectorTest() { ax.setTrusted(true); }

    std::unique_ptr<NotificationDetector> make(DetectionMode mode = DetectionMode::auto_) {
        auto snapshot = [this] { return AXTreeSnapshot::take({ax, workspace, scheduler()}); };
        return std::make_unique<NotificationDetector>(
            mode, NotificationDetector::Factories{
                      [this] { return std::make_unique<AXObserverDetector>(bus, ax, workspace, scheduler()); },
                      [this, snapshot] { return std::make_unique<PollingDetector>(bus, scheduler(), snapshot); },
                      [this] { return makeDetector(); }});
    }
    void setSource(const QString& text) { defaults().set(AppSettings::detectionSourceKey, text); }
    void addNotificationCenter() {
        workspace.addApplication(400, QStringLiteral("com.apple.notificationcenterui"),
                                 QStringLiteral("Notification Center"));
    }
    QStringList ownLines() const { return log.matching(QStringLiteral("NotificationDetector: ")); }
    bool built(const char* detector) const { return !log.matching(QString::fromLatin1(detector) + ": ").isEmpty(); }

    testsupport::FakeAccessibility ax;
};

TEST_F(NotificationDetectorTest, TheUiSourceKeepsARunningObserverOrFallsBackToPolling) {
    setSource(QStringLiteral("ui"));
    store();
    auto detector = make();
    detector->start(true);
    EXPECT_EQ(ownLines(), (QStringList{kStarting, kObserverFailed, kPollingStarted, kStarted}));
    EXPECT_TRUE(log.contains(LogLevel::Info, kObserverFailed));
    EXPECT_TRUE(detector->isRunning());
    EXPECT_NE(detector->pollingDetector(), nullptr);
    EXPECT_FALSE(built("NotificationDatabaseDetector"));

    detector->stop();
    log.clear();
    addNotificationCenter();
    detector->start(false);
    EXPECT_EQ(ownLines(), (QStringList{kStarting, own("✓ AXObserver detector started"), kStarted}));
    EXPECT_NE(detector->observerDetector(), nullptr);
    EXPECT_FALSE(built("PollingDetector"));
}

TEST_F(NotificationDetectorTest, TheDatabaseSourceWithoutPermissionStartsTheUiFallback) {
    setSource(QStringLiteral("database"));
    store();
    auto detector = make();
    detector->start(false);
    EXPECT_EQ(ownLines(), (QStringList{kStarting,
                                       own("Full Disk Access unavailable, skipping database detector and starting UI "
                                           "fallback"),
                                       kObserverFailed, kPollingStarted, kStarted}));
    EXPECT_TRUE(log.contains(LogLevel::Warning, ownLines()[1]));
    EXPECT_FALSE(built("NotificationDatabaseDetector"));
    EXPECT_TRUE(detector->isRunning());
}

TEST_F(NotificationDetectorTest, AnyOtherSourceTextTakesTheDatabaseRoad) {
    store();
    for (const char* source : {"", "UI", "db"}) {
        if (*source)
            setSource(QString::fromLatin1(source));
        else
            defaults().remove(AppSettings::detectionSourceKey);
        auto detector = make();
        log.clear();
        detector->start(true);
        EXPECT_EQ(ownLines(), (QStringList{kStarting, own("✓ Database detector started (detects banner-off "
                                                          "notifications)"),
                                           kStarted}))
            << source;
        EXPECT_NE(detector->databaseDetector(), nullptr);
        EXPECT_FALSE(built("AXObserverDetector") || built("PollingDetector"));
        detector->stop();
    }
}

TEST_F(NotificationDetectorTest, AFailingDatabaseDetectorFallsBackInTheSameCall) {
    auto detector = make();  // no store under the home folder
    detector->start(true);
    const QString unavailable =
        own("✗ Database detector not available (likely Full Disk Access). Falling back to UI detection.");
    EXPECT_EQ(ownLines(), (QStringList{kStarting, unavailable, kObserverFailed, kPollingStarted, kStarted}));
    EXPECT_TRUE(log.contains(LogLevel::Warning, unavailable));
    EXPECT_EQ(detector->databaseDetector(), nullptr);
    EXPECT_NE(detector->pollingDetector(), nullptr);
}

TEST_F(NotificationDetectorTest, StartWhileRunningOnlyLogsAndStopStopsTheRunningDetector) {
    auto detector = make();
    detector->stop();  // stopped: nothing to do, nothing logged
    EXPECT_TRUE(log.lines().empty());

    store();
    detector->start(true);
    const NotificationDatabaseDetector* running = detector->databaseDetector();
    ASSERT_NE(running, nullptr);
    setSource(QStringLiteral("ui"));
    log.clear();
    detector->start(true);
    EXPECT_EQ(log.texts(), QStringList{own("Already running")});
    EXPECT_TRUE(log.contains(LogLevel::Warning, own("Already running")));
    EXPECT_EQ(detector->databaseDetector(), running);

    detector->stop();
    EXPECT_FALSE(detector->isRunning());
    EXPECT_EQ(detector->databaseDetector(), nullptr);
    EXPECT_EQ(log.texts().last(), QStringLiteral("NotificationDatabaseDetector: Stopped"));
    EXPECT_EQ(watcher.activeWatchCount(), 0);

    // A restart follows the source as stored now.
    detector->start(true);
    ASSERT_NE(detector->pollingDetector(), nullptr);
    detector->stop();
    EXPECT_EQ(log.texts().last(), QStringLiteral("PollingDetector: Stopped"));
    EXPECT_EQ(scheduler().pendingCount(), 0u);
}

TEST_F(NotificationDetectorTest, TheOtherModesChooseOneDetectorOnly) {
    setSource(QStringLiteral("ui"));
    auto observerOnly = make(DetectionMode::observerOnly);
    observerOnly->start(true);
    EXPECT_FALSE(observerOnly->isRunning());
    EXPECT_EQ(ownLines().mid(1), (QStringList{own("✗ AXObserver detector failed"), own("No detector started")}));
    EXPECT_TRUE(log.contains(LogLevel::Warning, own("No detector started")));
    EXPECT_FALSE(built("PollingDetector"));

    addNotificationCenter();
    log.clear();
    auto pollingOnly = make(DetectionMode::pollingOnly);
    pollingOnly->start(true);
    EXPECT_TRUE(pollingOnly->isRunning());
    EXPECT_EQ(ownLines(), (QStringList{kStarting, own("✓ Polling detector started"), kStarted}));
    EXPECT_FALSE(built("AXObserverDetector"));
}

}  // namespace
