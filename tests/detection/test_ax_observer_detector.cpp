#include "detection/ax_observer_detector.h"

#include "support/fake_accessibility.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

using platform::AXElement;
using platform::AXError;
using platform::LogLevel;

namespace {

constexpr int32_t kNotificationPid = 400;
constexpr int32_t kControlPid = 500;

class AXObserverDetectorTest : public testsupport::QuillvexTest {
protected:
    AXObserverDetectorTest() {
        ax.setTrusted(true);
        subscription = bus.signalSubject.sink([this](const NotificationSignal& s) { received.push_back(s); });
    }
    void addNotificationCenter() {
        workspace.addApplication(kNotificationPid, QStringLiteral("com.apple.notificationcenterui"),
                                 QStringLiteral("Notification Center"));
    }
    QStringList registeredNames() const {
        QStringList names;
        for (const auto& r : ax.registrations()) names << r.notification;
        return names;
    }

    testsupport::FakeAccessibility ax;
    testsupport::FakeWorkspace workspace;
    EventBus bus{scheduler()};
    std::vector<NotificationSignal> received;
    platform::AnyCancellable subscription;
};

TEST_F(AXObserverDetectorTest, StartsOnTheNotificationCenterProcess) {
    workspace.addApplication(kControlPid, QStringLiteral("com.apple.controlcenter"), QStringLiteral("Control Center"));
    addNotificationCenter();
    AXObserverDetector detector(bus);

    EXPECT_TRUE(detector.start());
    EXPECT_EQ(detector.observedPID(), kNotificationPid);
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("AXObserverDetector: Started for pid=400")));
    EXPECT_EQ(registeredNames(), (QStringList{QStringLiteral("AXCreated"), QStringLiteral("AXUIElementDestroyed"),
                                              QStringLiteral("AXWindowCreated")}));
    for (const auto& r : ax.registrations()) {
        EXPECT_EQ(r.element, AXElement::application(kNotificationPid));
        EXPECT_EQ(r.context, &detector);
    }
    EXPECT_EQ(ax.observersWithSourceAdded(), 1);

    // A second start changes nothing.
    EXPECT_TRUE(detector.start());
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("AXObserverDetector: Already running")));
    EXPECT_EQ(ax.observersCreated(), 1);
    EXPECT_EQ(ax.registrations().size(), 3u);
}

TEST_F(AXObserverDetectorTest, FallsBackToControlCenterThenToNamesInWorkspaceOrder) {
    workspace.addApplication(kControlPid, QStringLiteral("com.apple.controlcenter"), QStringLiteral("Control Center"));
    {
        AXObserverDetector detector(bus);
        ASSERT_TRUE(detector.start());
        EXPECT_EQ(detector.observedPID(), kControlPid);
    }
    workspace.applications.clear();
    workspace.addApplication(6, std::nullopt, std::nullopt);
    workspace.addApplication(7, QStringLiteral("com.example.tool"), QStringLiteral("My CONTROL CENTER Tool"));
    workspace.addApplication(8, QStringLiteral("com.example.other"), QStringLiteral("Notification Center Helper"));
    AXObserverDetector detector(bus);
    ASSERT_TRUE(detector.start());
    EXPECT_EQ(detector.observedPID(), 7);
}

TEST_F(AXObserverDetectorTest, FailsWithoutAProcessOrAnObserver) {
    AXObserverDetector detector(bus);
    EXPECT_FALSE(detector.start());
    EXPECT_TRUE(
        log.contains(LogLevel::Warning, QStringLiteral("AXObserverDetector: Notification Center process not found")));
    EXPECT_EQ(ax.observersCreated(), 0);

    addNotificationCenter();
    ax.failObserverCreation(AXError::CannotComplete);
    EXPECT_FALSE(detector.start());
    EXPECT_TRUE(
        log.contains(LogLevel::Warning, QStringLiteral("AXObserverDetector: AXObserverCreate failed (-25204)")));
    EXPECT_FALSE(detector.isRunning());
    EXPECT_FALSE(detector.observedPID().has_value());
}

TEST_F(AXObserverDetectorTest, StartsWhenOnlyTheWindowNotificationIsAccepted) {
    addNotificationCenter();
    ax.failNotification(QStringLiteral("AXCreated"), AXError::NotificationUnsupported);
    ax.failNotification(QStringLiteral("AXUIElementDestroyed"), AXError::NotificationUnsupported);
    AXObserverDetector detector(bus);

    EXPECT_TRUE(detector.start());
    EXPECT_TRUE(
        log.contains(LogLevel::Debug, QStringLiteral("AXObserverDetector: Failed to register AXCreated (-25207)")));
    EXPECT_TRUE(log.contains(LogLevel::Debug,
                             QStringLiteral("AXObserverDetector: Failed to register AXUIElementDestroyed (-25207)")));
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("AXObserverDetector: Started for pid=400")));
    EXPECT_EQ(registeredNames(), QStringList{QStringLiteral("AXWindowCreated")});
}

TEST_F(AXObserverDetectorTest, FailsWhenNoNotificationIsAccepted) {
    addNotificationCenter();
    for (const auto& name : AXObserverDetector::observedNotifications())
        ax.failNotification(name, AXError::APIDisabled);
    AXObserverDetector detector(bus);

    EXPECT_FALSE(detector.start());
    EXPECT_TRUE(
        log.contains(LogLevel::Warning, QStringLiteral("AXObserverDetector: No notifications could be registered")));
    EXPECT_FALSE(detector.isRunning());
    EXPECT_FALSE(detector.observedPID().has_value());
    EXPECT_EQ(ax.liveObservers(), 0);
    EXPECT_EQ(ax.observersWithSourceAdded(), 0);
}

TEST_F(AXObserverDetectorTest, ANewWindowSignalsOnTheMainLoopAndElementEventsAreFiltered) {
    addNotificationCenter();
    AXObserverDetector detector(bus);
    ASSERT_TRUE(detector.start());

    ax.post(kNotificationPid, QStringLiteral("AXWindowCreated"), AXElement(kNotificationPid, 42));
    EXPECT_TRUE(received.empty());  // delivered later, on the main loop
    scheduler().drain();
    ASSERT_EQ(received.size(), 1u);
    const NotificationSignal& s = received.front();
    EXPECT_EQ(s.confidence, SignalConfidence::normal);
    EXPECT_FALSE(s.sourceHint || s.message || s.appIconData || s.bundleId);
    EXPECT_FALSE(s.isCallAlert);
    EXPECT_TRUE(log.contains(LogLevel::Debug, QStringLiteral("AXObserverDetector: Received AXWindowCreated")));

    ax.post(kNotificationPid, QStringLiteral("AXCreated"));
    ax.post(kNotificationPid, QStringLiteral("AXUIElementDestroyed"));
    scheduler().drain();
    EXPECT_EQ(received.size(), 1u);
    EXPECT_EQ(log.count(QStringLiteral("AXObserverDetector: Ignoring notification from Notification Center")), 2);
}

TEST_F(AXObserverDetectorTest, StopDetachesEverythingAndAlwaysLogs) {
    addNotificationCenter();
    AXObserverDetector detector(bus);
    detector.stop();
    EXPECT_EQ(log.count(QStringLiteral("AXObserverDetector: Stopped")), 1);

    ASSERT_TRUE(detector.start());
    ax.post(kNotificationPid, QStringLiteral("AXWindowCreated"));  // queued, then dropped by the stop
    detector.stop();
    scheduler().drain();
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(ax.notificationsRemoved(), 3);
    EXPECT_EQ(ax.sourcesRemoved(), 1);
    EXPECT_EQ(ax.liveObservers(), 0);
    EXPECT_FALSE(detector.observedPID().has_value());
    EXPECT_EQ(log.count(QStringLiteral("AXObserverDetector: Stopped")), 2);

    // It can start again with a fresh observer.
    EXPECT_TRUE(detector.start());
    EXPECT_EQ(ax.observersCreated(), 2);
}

TEST_F(AXObserverDetectorTest, DestroyingARunningDetectorRemovesItsRegistrationsSilently) {
    addNotificationCenter();
    {
        AXObserverDetector detector(bus);
        ASSERT_TRUE(detector.start());
        ax.post(kNotificationPid, QStringLiteral("AXWindowCreated"));
    }
    scheduler().drain();  // the queued event must not reach the dead detector
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(ax.notificationsRemoved(), 3);
    EXPECT_EQ(ax.sourcesRemoved(), 1);
    EXPECT_EQ(log.count(QStringLiteral("AXObserverDetector: Stopped")), 0);
}

TEST_F(AXObserverDetectorTest, TheLinuxBackendCannotObserve) {
    addNotificationCenter();
    platform::NullAccessibility linuxBackend;
    AXObserverDetector detector(bus, linuxBackend);
    EXPECT_FALSE(detector.start());
    EXPECT_TRUE(
        log.contains(LogLevel::Warning, QStringLiteral("AXObserverDetector: AXObserverCreate failed (-25211)")));
}

}  // namespace
