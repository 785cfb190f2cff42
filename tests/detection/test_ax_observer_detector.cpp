#include "detection/ax_observer_detector.h"

#include "support/fake_accessibility.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

using platform::AXElement;
using testsupport::FakeAXNode;
using platform::AXError;
using platform::LogLevel;

namespace {

constexpr int32_t kNotificationPid = 400;

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
    bool logged(LogLevel level, const QString& text) const {
        return log.contains(level, QStringLiteral("AXObserverDetector: ") + text);
    }

    testsupport::FakeAccessibility ax;
    testsupport::FakeWorkspace workspace;
    EventBus bus{scheduler()};
    std::vector<NotificationSignal> received;
    platform::AnyCancellable subscription;
};

TEST_F(AXObserverDetectorTest, StartsOnceOnTheNotificationProcess) {
    // Without either bundle, the first matching name in workspace order.
    workspace.addApplication(6, std::nullopt, std::nullopt);
    workspace.addApplication(7, QStringLiteral("com.example.tool"), QStringLiteral("My CONTROL CENTER Tool"));
    workspace.addApplication(8, QStringLiteral("com.example.other"), QStringLiteral("Notification Center Helper"));
    AXObserverDetector detector(bus);
    ASSERT_TRUE(detector.start());
    EXPECT_EQ(detector.observedPID(), 7);
    detector.stop();
    workspace.addApplication(500, QStringLiteral("com.apple.controlcenter"), QStringLiteral("Control Center"));
    ASSERT_TRUE(detector.start());
    EXPECT_EQ(detector.observedPID(), 500);  // Control Center while Notification Center does not run
    detector.stop();

    addNotificationCenter();
    EXPECT_TRUE(detector.start());
    EXPECT_EQ(detector.observedPID(), kNotificationPid);
    EXPECT_TRUE(logged(LogLevel::Info, "Started for pid=400"));
    EXPECT_EQ(registeredNames(), (QStringList{"AXCreated", "AXUIElementDestroyed", "AXWindowCreated"}));
    for (const auto& r : ax.registrations()) {
        EXPECT_EQ(r.element, AXElement::application(kNotificationPid));
        EXPECT_EQ(r.context, &detector);
    }
    EXPECT_EQ(ax.observersWithSourceAdded(), 1);
    EXPECT_TRUE(detector.start());
    EXPECT_TRUE(logged(LogLevel::Info, "Already running"));
    EXPECT_EQ(ax.observersCreated(), 3);
    EXPECT_EQ(ax.registrations().size(), 3u);
}

TEST_F(AXObserverDetectorTest, FailsWithoutAProcessAnObserverOrAnyRegistration) {
    AXObserverDetector detector(bus);
    EXPECT_FALSE(detector.start());
    EXPECT_TRUE(logged(LogLevel::Warning, "Notification Center process not found"));

    // The Linux backend makes no observer.
    addNotificationCenter();
    platform::NullAccessibility linuxBackend;
    EXPECT_FALSE(AXObserverDetector(bus, linuxBackend).start());
    EXPECT_TRUE(logged(LogLevel::Warning, "AXObserverCreate failed (-25211)"));

    for (const auto& name : AXObserverDetector::observedNotifications()) ax.failNotification(name, AXError::APIDisabled);
    EXPECT_FALSE(detector.start());
    EXPECT_TRUE(logged(LogLevel::Warning, "No notifications could be registered"));
    EXPECT_FALSE(detector.isRunning());
    EXPECT_FALSE(detector.observedPID().has_value());
    EXPECT_EQ(ax.liveObservers(), 0);
    EXPECT_EQ(ax.observersWithSourceAdded(), 0);
}

TEST_F(AXObserverDetectorTest, StartsWhenOnlyTheWindowNotificationIsAccepted) {
    addNotificationCenter();
    ax.failNotification(QStringLiteral("AXCreated"), AXError::NotificationUnsupported);
    ax.failNotification(QStringLiteral("AXUIElementDestroyed"), AXError::NotificationUnsupported);
    AXObserverDetector detector(bus);
    EXPECT_TRUE(detector.start());
    EXPECT_TRUE(logged(LogLevel::Debug, "Failed to register AXCreated (-25207)"));
    EXPECT_TRUE(logged(LogLevel::Debug, "Failed to register AXUIElementDestroyed (-25207)"));
    EXPECT_TRUE(logged(LogLevel::Info, "Started for pid=400"));
    EXPECT_EQ(registeredNames(), QStringList{"AXWindowCreated"});
}

// A popup raises a burst of events (its window, then each child); they lead to one reading of
// what appeared and one signal with its title and text.
TEST_F(AXObserverDetectorTest, EachNewPopupGivesOneSignalWithItsTitleAndText) {
    addNotificationCenter();
    ax.addProcess(kNotificationPid);
    ax.addWindow(kNotificationPid, FakeAXNode("AXGroup").child(FakeAXNode("AXStaticText").value("Already shown")));
    AXObserverDetector detector(bus);
    ASSERT_TRUE(detector.start());

    const AXElement popup =
        ax.addWindow(kNotificationPid, FakeAXNode("AXGroup")
                                           .title("Notification")
                                           .child(FakeAXNode("AXImage"))
                                           .child(FakeAXNode("AXStaticText").value("Dinner at 7?"))
                                           .child(FakeAXNode("AXStaticText").value("See you there")));
    ax.post(kNotificationPid, QStringLiteral("AXWindowCreated"), popup);
    for (const auto& child : ax.childrenOf(popup)) ax.post(kNotificationPid, QStringLiteral("AXCreated"), child);
    scheduler().drain();
    EXPECT_TRUE(received.empty());  // the burst settles first
    scheduler().advance(0.1);
    ASSERT_EQ(received.size(), 1u);
    const NotificationSignal& s = received.front();
    EXPECT_EQ(s.confidence, SignalConfidence::normal);
    EXPECT_EQ(s.message, QStringLiteral("Dinner at 7? \u2022 See you there"));
    EXPECT_FALSE(s.sourceHint);  // a title is not the posting application's name
    EXPECT_TRUE(logged(LogLevel::Debug, "Received AXWindowCreated"));
    EXPECT_EQ(log.count(QStringLiteral("AXObserverDetector: Received AXCreated")), 3);

    // Its removal, and events that bring nothing new, give nothing.
    ax.post(kNotificationPid, QStringLiteral("AXUIElementDestroyed"), popup);
    ax.post(kNotificationPid, QStringLiteral("AXCreated"));
    scheduler().advance(1);
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(AXObserverDetectorTest, APopupIsReadOnceItsTextArrivesAndTheNotificationProcessIsFiltered) {
    addNotificationCenter();
    ax.addProcess(kNotificationPid);
    AXObserverDetector detector(bus);
    ASSERT_TRUE(detector.start());

    // Announced before its content.
    const AXElement popup = ax.addWindow(kNotificationPid, FakeAXNode("AXGroup"));
    ax.post(kNotificationPid, QStringLiteral("AXWindowCreated"), popup);
    scheduler().advance(0.3);
    EXPECT_TRUE(received.empty());
    ax.addChild(popup, FakeAXNode("AXStaticText").value("Build finished"));
    scheduler().advance(0.1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received.front().message, QStringLiteral("Build finished"));

    // A popup whose application is the notification process itself is dropped by the name filter.
    workspace.addApplication(401, QStringLiteral("com.example.nc"), QStringLiteral("Notification Center"));
    const AXElement own = ax.addWindow(
        kNotificationPid, FakeAXNode("AXGroup").subrole("AXNotification").child(
                              FakeAXNode("AXStaticText").value("Do Not Disturb").identifier("com.example.nc")));
    ax.post(kNotificationPid, QStringLiteral("AXWindowCreated"), own);
    scheduler().advance(0.1);
    EXPECT_EQ(received.size(), 1u);
    EXPECT_TRUE(logged(LogLevel::Debug, "Ignoring notification from Notification Center"));
}

TEST_F(AXObserverDetectorTest, StopAndDestructionDetachEverythingOnlyStopLogs) {
    addNotificationCenter();
    AXObserverDetector detector(bus);
    detector.stop();
    EXPECT_EQ(log.count(QStringLiteral("AXObserverDetector: Stopped")), 1);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(detector.start());  // again, with a fresh observer
        ax.post(kNotificationPid, QStringLiteral("AXWindowCreated"));  // queued, then dropped by the stop
        detector.stop();
    }
    {
        AXObserverDetector destroyed(bus);  // its callback holds a plain pointer to it
        ASSERT_TRUE(destroyed.start());
        ax.post(kNotificationPid, QStringLiteral("AXWindowCreated"));
    }
    scheduler().drain();
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(ax.observersCreated(), 3);
    EXPECT_EQ(ax.notificationsRemoved(), 9);
    EXPECT_EQ(ax.sourcesRemoved(), 3);
    EXPECT_EQ(ax.liveObservers(), 0);
    EXPECT_FALSE(detector.observedPID().has_value());
    EXPECT_EQ(log.count(QStringLiteral("AXObserverDetector: Stopped")), 3);
}

}  // namespace
