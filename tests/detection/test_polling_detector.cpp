#include "detection/polling_detector.h"

#include "core/wall_clock.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QBuffer>
#include <QImage>

#include <deque>

using platform::LogLevel;

namespace {

class PollingDetectorTest : public testsupport::QuillvexTest {
protected:
    PollingDetectorTest() {
        subscription = bus.signalSubject.sink([this](const NotificationSignal& s) { received.push_back(s); });
    }

    static AXTreeSnapshot snapshot(int64_t count, std::optional<QString> message = std::nullopt, int64_t signature = 0,
                                   std::optional<QString> appName = QStringLiteral("Mail")) {
        AXTreeSnapshot s;
        s.notificationCount = count;
        s.message = std::move(message);
        s.signature = signature;
        s.appName = std::move(appName);
        return s;
    }
    // Starts with `baseline`, then feeds one reading per tick of 0.8 s.
    void run(std::optional<AXTreeSnapshot> baseline, std::vector<std::optional<AXTreeSnapshot>> ticks) {
        readings.push_back(std::move(baseline));
        for (auto& t : ticks) readings.push_back(std::move(t));
        detector.start();
        scheduler().advance(0.8 * static_cast<double>(ticks.size()) + 0.01);
    }
    std::vector<SignalConfidence> confidences() const {
        std::vector<SignalConfidence> out;
        for (const auto& s : received) out.push_back(s.confidence);
        return out;
    }

    testsupport::FakeWorkspace workspace;
    EventBus bus{scheduler()};
    std::vector<NotificationSignal> received;
    platform::AnyCancellable subscription;
    std::deque<std::optional<AXTreeSnapshot>> readings;
    int takes = 0;
    PollingDetector detector{bus, scheduler(), [this]() -> std::optional<AXTreeSnapshot> {
                                 ++takes;
                                 if (readings.empty()) return std::nullopt;
                                 auto next = readings.front();
                                 readings.pop_front();
                                 return next;
                             }};
};

using C = SignalConfidence;

TEST_F(PollingDetectorTest, TakesABaselineAtStartThenReadsEveryEightTenthsOfASecond) {
    detector.start();
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("PollingDetector: Starting polling (interval: 0.8s)")));
    EXPECT_EQ(takes, 1);
    scheduler().advance(0.79);
    EXPECT_EQ(takes, 1);
    scheduler().advance(0.01);
    EXPECT_EQ(takes, 2);
    scheduler().advance(1.6);
    EXPECT_EQ(takes, 4);

    detector.start();  // already running: nothing
    EXPECT_EQ(log.matching(QStringLiteral("PollingDetector: Starting")).size(), 1);
    EXPECT_EQ(takes, 4);

    detector.stop();
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("PollingDetector: Stopped")));
    scheduler().advance(5);
    EXPECT_EQ(takes, 4);
    EXPECT_FALSE(detector.isRunning());
}

TEST_F(PollingDetectorTest, OneMoreIsNormalTwoOrThreeMoreAreStrong) {
    run(snapshot(2), {snapshot(3), snapshot(5), snapshot(8)});
    EXPECT_EQ(confidences(), (std::vector<C>{C::normal, C::strong, C::strong}));
}

TEST_F(PollingDetectorTest, ABulkIncreaseIsIgnoredAndSilencesIncreasesForTwoSeconds) {
    // t=0.8: +4 (bulk), t=1.6: +1 (cooldown), t=2.4: same with a new message (cooldown), t=3.2: +1.
    run(snapshot(2), {snapshot(6), snapshot(7), snapshot(7, QStringLiteral("new")), snapshot(8)});
    EXPECT_EQ(confidences(), (std::vector<C>{C::normal}));
    EXPECT_TRUE(log.contains(LogLevel::Debug, QStringLiteral("PollingDetector: Ignoring bulk notification increase "
                                                             "(4 notifications) - likely notification center opened")));
    EXPECT_TRUE(
        log.contains(LogLevel::Debug, QStringLiteral("PollingDetector: Ignoring notification during cooldown period")));
}

TEST_F(PollingDetectorTest, ABulkIncreaseDuringTheCooldownStartsItAgain) {
    // Bulks at 0.8 and 2.4; the +1 at 3.2 falls within 2.0 s of the second.
    run(snapshot(0), {snapshot(5), snapshot(5), snapshot(10), snapshot(11), snapshot(11), snapshot(11), snapshot(12)});
    // Only the last increase, at 5.6, is past the second cooldown.
    EXPECT_EQ(confidences(), (std::vector<C>{C::normal}));
}

TEST_F(PollingDetectorTest, ADecreaseIsIgnoredButBecomesTheBaseline) {
    run(snapshot(3), {snapshot(1), snapshot(2)});
    EXPECT_EQ(confidences(), (std::vector<C>{C::normal}));
    EXPECT_TRUE(
        log.contains(LogLevel::Debug, QStringLiteral("PollingDetector: Notification count decreased - ignoring")));
}

TEST_F(PollingDetectorTest, AnUnchangedCountSignalsWeaklyForNewContentOnly) {
    std::vector<std::optional<AXTreeSnapshot>> ticks{
        snapshot(1, QStringLiteral("Hi"), 1),     // message appears: weak
        snapshot(1, QStringLiteral("Hello"), 1),  // message changes: weak
        snapshot(1, QStringLiteral("Hello"), 2),  // same message, new signature: weak
        snapshot(1, QStringLiteral("Hello"), 2),  // nothing new
        snapshot(1, std::nullopt, 2),             // message gone, same signature: nothing
    };
    run(snapshot(1, std::nullopt, 1), std::move(ticks));
    EXPECT_EQ(confidences(), (std::vector<C>{C::weak, C::weak, C::weak}));
}

TEST_F(PollingDetectorTest, NoWeakSignalAtCountZero) {
    run(snapshot(0, std::nullopt, 1), {snapshot(0, QStringLiteral("Hi"), 2)});
    EXPECT_TRUE(received.empty());
}

TEST_F(PollingDetectorTest, WithoutABaselineTheFirstReadingIsOnlyStored) {
    run(std::nullopt, {snapshot(5), snapshot(6)});
    EXPECT_EQ(confidences(), (std::vector<C>{C::normal}));
}

TEST_F(PollingDetectorTest, ATickWithoutAReadingKeepsTheBaseline) {
    run(snapshot(1), {std::nullopt, snapshot(2)});
    EXPECT_EQ(confidences(), (std::vector<C>{C::normal}));
}

TEST_F(PollingDetectorTest, SignalsCarryTheSnapshotsContent) {
    AXTreeSnapshot next = snapshot(2, QStringLiteral("Lunch?"), 0, QStringLiteral("Chat"));
    next.bundleId = QStringLiteral("com.example.chat");
    next.appIconData = QByteArray("not an image");
    const QDateTime firstTick = wallClockNow(scheduler()).addMSecs(800);
    run(snapshot(1), {next});

    ASSERT_EQ(received.size(), 1u);
    const NotificationSignal& s = received.front();
    EXPECT_EQ(s.sourceHint, QStringLiteral("Chat"));
    EXPECT_EQ(s.message, QStringLiteral("Lunch?"));
    EXPECT_EQ(s.bundleId, QStringLiteral("com.example.chat"));
    EXPECT_EQ(s.appIconData, QByteArray("not an image"));  // undecodable bytes pass unchanged
    EXPECT_FALSE(s.isCallAlert);
    EXPECT_EQ(s.timestamp, firstTick);
    EXPECT_TRUE(
        log.contains(LogLevel::Debug, QStringLiteral("PollingDetector: Emitting signal for 'Chat' with icon: true")));
    EXPECT_TRUE(
        log.contains(LogLevel::Debug, QStringLiteral("PollingDetector: snapshot count=2 message=Lunch? appName=Chat")));
}

TEST_F(PollingDetectorTest, ALargeIconIsReencodedWithinFiveHundredTwelvePoints) {
    QImage image(1024, 256, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    AXTreeSnapshot next = snapshot(2);
    next.appIconData = jpeg;
    run(snapshot(1), {next});

    ASSERT_EQ(received.size(), 1u);
    ASSERT_TRUE(received.front().appIconData.has_value());
    const QImage decoded = QImage::fromData(*received.front().appIconData, "PNG");
    EXPECT_EQ(decoded.size(), QSize(512, 128));
}

TEST_F(PollingDetectorTest, NotificationCenterItselfNeverSignals) {
    run(snapshot(0), {snapshot(1, std::nullopt, 0, QStringLiteral("Notification Center")),
                      snapshot(2, std::nullopt, 0, QStringLiteral("通知センター"))});
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(log.count(QStringLiteral("PollingDetector: Ignoring notification from Notification Center")), 2);
}

TEST_F(PollingDetectorTest, NoIconAndNoApplicationMeansNoIcon) {
    run(snapshot(0), {snapshot(1, std::nullopt, 0, std::nullopt)});
    ASSERT_EQ(received.size(), 1u);
    EXPECT_FALSE(received.front().appIconData.has_value());
    EXPECT_TRUE(log.contains(QStringLiteral("PollingDetector: Emitting signal for 'unknown' with icon: false")));
}

TEST(PollingDetectorLifetimeTest, ADestroyedDetectorIsNeverCalled) {
    testsupport::ScopedVirtualScheduler clock;
    EventBus bus(clock.scheduler);
    int takes = 0;
    {
        PollingDetector detector(bus, clock.scheduler, [&takes] {
            ++takes;
            return std::optional<AXTreeSnapshot>();
        });
        detector.start();
    }
    clock.scheduler.advance(5);
    EXPECT_EQ(takes, 1);
}

}  // namespace
