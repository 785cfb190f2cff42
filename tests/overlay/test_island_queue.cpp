#include "core/app_settings.h"
#include "core/event_bus.h"
#include "core/wall_clock.h"
#include "overlay/island_queue.h"
#include "overlay_state_log.h"
#include "support/fixtures.h"

#include <memory>
#include <vector>

namespace {

NotificationSignal makeSignal(std::optional<QString> app, std::optional<QString> message,
                              std::optional<QByteArray> icon = std::nullopt,
                              std::optional<QString> bundleId = std::nullopt) {
    return NotificationSignal{QUuid::createUuid(), QDateTime(), SignalConfidence::normal, std::move(app),
                              std::move(message), std::move(icon), std::move(bundleId), false};
}

class IslandQueueTest : public testsupport::QuillvexTest {
protected:
    EventBus bus{scheduler()};
    std::unique_ptr<IslandQueue> queue = std::make_unique<IslandQueue>(bus, scheduler());
    overlaytest::OverlayStateLog published{bus};
    std::vector<OverlayState>& states = published.states;

    void signalAt(double time, NotificationSignal signal) {
        scheduler().advance(time - scheduler().elapsed());
        bus.signalSubject.send(signal);
    }
    const QDateTime origin = wallClockNow(scheduler());
    // Seconds from the scheduler's start to a state's lastUpdated.
    double at(const OverlayState& s) const { return origin.msecsTo(s.lastUpdated) / 1000.0; }
};

}  // namespace

TEST_F(IslandQueueTest, BurstExpandsStacksCountsHidesAndStartsCleanAfterwards) {
    signalAt(0.0, makeSignal(QStringLiteral("Mail"), QStringLiteral("one"), QByteArray("icon"), QStringLiteral("m")));
    signalAt(0.1, makeSignal(QStringLiteral("Slack"), QString()));
    signalAt(0.2, makeSignal(std::nullopt, QStringLiteral("three")));
    ASSERT_EQ(states.size(), 3u);
    EXPECT_TRUE(states[0].isVisible);
    EXPECT_EQ(states[0].mode, IslandMode::expanded);
    EXPECT_EQ(states[0].count, 1);
    EXPECT_EQ(states[1].mode, IslandMode::expanded);
    EXPECT_EQ(states[1].count, 2);
    EXPECT_EQ(states[1].message, QStringLiteral("one"));  // an empty text leaves the earlier one
    EXPECT_EQ(states[2].mode, IslandMode::stacked);
    EXPECT_EQ(states[2].count, 3);
    EXPECT_EQ(states[2].message, QStringLiteral("three"));
    EXPECT_EQ(states[2].sourceHint, QStringLiteral("Slack"));
    EXPECT_EQ(states[2].appIconData, QByteArray("icon"));

    const OverlayState* hiddenState = published.nextAfter(scheduler(), 2.2 - scheduler().elapsed());
    ASSERT_TRUE(hiddenState);
    const OverlayState hidden = *hiddenState;
    EXPECT_FALSE(hidden.isVisible);
    EXPECT_EQ(hidden.count, 3);
    EXPECT_EQ(hidden.mode, IslandMode::stacked);
    EXPECT_EQ(hidden.message, QStringLiteral("three"));
    EXPECT_EQ(hidden.bundleId, QStringLiteral("m"));
    EXPECT_DOUBLE_EQ(at(hidden), 2.2);

    signalAt(3.0, makeSignal(QStringLiteral("Notes"), QStringLiteral("fresh")));
    const OverlayState& next = states.back();
    EXPECT_EQ(next.mode, IslandMode::expanded);
    EXPECT_EQ(next.count, 1);
    EXPECT_FALSE(next.appIconData);
    EXPECT_FALSE(next.bundleId);
}

TEST_F(IslandQueueTest, DebounceCountsFromTheLastExpandInclusiveOfHalfASecond) {
    signalAt(0.0, makeSignal(std::nullopt, QStringLiteral("a")));
    signalAt(0.5, makeSignal(std::nullopt, QStringLiteral("b")));
    EXPECT_EQ(states.back().mode, IslandMode::expanded);  // stacked onto a count of 1 keeps the mode
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, QStringLiteral("IslandQueue: Stacking notification")));

    // Every 0.3 s: expand, stack, expand, stack; the count keeps rising.
    log.clear();
    signalAt(0.8, makeSignal(std::nullopt, QStringLiteral("c")));
    signalAt(1.1, makeSignal(std::nullopt, QStringLiteral("d")));
    signalAt(1.4, makeSignal(std::nullopt, QStringLiteral("e")));
    EXPECT_EQ(log.count(QStringLiteral("IslandQueue: Expanding island")), 2);
    EXPECT_EQ(log.count(QStringLiteral("IslandQueue: Stacking notification")), 1);
    EXPECT_EQ(states.back().count, 5);
    EXPECT_EQ(states.back().mode, IslandMode::expanded);
}

TEST_F(IslandQueueTest, LogsTheSignalAndTheEmittedState) {
    bus.signalSubject.send(makeSignal(std::nullopt, std::nullopt));
    EXPECT_TRUE(log.contains(platform::LogLevel::Info,
                             QStringLiteral("IslandQueue: Received signal - app: 'unknown', message: 'no message', "
                                            "confidence: normal, hasIcon: false")));
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug,
                             QStringLiteral("IslandQueue: Emitting state - visible: true, count: 1, mode: expanded, "
                                            "app: 'none', hasIcon: false")));
    auto strong = makeSignal(QStringLiteral("Mail"), QStringLiteral("hi"), QByteArray());
    strong.confidence = SignalConfidence::strong;
    bus.signalSubject.send(strong);
    EXPECT_TRUE(log.contains(QStringLiteral(
        "IslandQueue: Received signal - app: 'Mail', message: 'hi', confidence: strong, hasIcon: true")));
    EXPECT_EQ(states.back().appIconData, QByteArray());  // present but empty data still replaces
}

TEST_F(IslandQueueTest, DisplayTimeoutIsReadAndClampedAtEachArm) {
    struct Case {
        std::optional<double> stored;
        double hidesAfter;
    };
    const std::vector<Case> cases{{std::nullopt, 2.0}, {0.0, 2.0}, {-3.0, 2.0}, {0.05, 0.1}, {120.0, 60.0}, {7.5, 7.5}};
    for (const Case& c : cases) {
        if (c.stored) {
            defaults().set(AppSettings::displayTimeoutKey, *c.stored);
        } else {
            defaults().remove(AppSettings::displayTimeoutKey);
        }
        scheduler().advance(100);  // well past any earlier burst
        SCOPED_TRACE(c.stored.value_or(-99));
        bus.signalSubject.send(makeSignal(std::nullopt, QStringLiteral("x")));
        const OverlayState* hidden = published.nextAfter(scheduler(), c.hidesAfter);
        EXPECT_TRUE(hidden && !hidden->isVisible);
    }
}

TEST_F(IslandQueueTest, RaisingTheTimeoutWhileArmedHidesAfterTheNewTime) {
    defaults().set(AppSettings::displayTimeoutKey, 2.0);
    signalAt(0.0, makeSignal(std::nullopt, QStringLiteral("a")));
    signalAt(0.5, makeSignal(std::nullopt, QStringLiteral("b")));  // last update at 0.5
    defaults().set(AppSettings::displayTimeoutKey, 10.0);
    const OverlayState* hidden = published.nextAfter(scheduler(), 10.0);
    EXPECT_TRUE(hidden && !hidden->isVisible);
    const size_t count = states.size();
    scheduler().advance(20.0);
    EXPECT_EQ(states.size(), count);
}

TEST_F(IslandQueueTest, DismissHidesAtOnceAndResetsTheCount) {
    signalAt(0.0, makeSignal(QStringLiteral("Mail"), QStringLiteral("a")));
    signalAt(0.1, makeSignal(QStringLiteral("Mail"), QStringLiteral("b")));
    bus.overlayDismissSubject.send();
    ASSERT_EQ(states.size(), 3u);
    EXPECT_FALSE(states[2].isVisible);
    EXPECT_EQ(states[2].count, 2);
    EXPECT_EQ(states[2].message, QStringLiteral("b"));

    // Within 0.5 s of the expand, onto a hidden overlay: a peek with a fresh count.
    signalAt(0.3, makeSignal(std::nullopt, QStringLiteral("c")));
    EXPECT_TRUE(states.back().isVisible);
    EXPECT_EQ(states.back().mode, IslandMode::peek);
    EXPECT_EQ(states.back().count, 1);
    EXPECT_FALSE(states.back().sourceHint);

    // The cancelled auto-hide of the first burst never fires; the new one does.
    scheduler().advance(2.3 - scheduler().elapsed());
    EXPECT_FALSE(states.back().isVisible);
    EXPECT_DOUBLE_EQ(at(states.back()), 2.3);

    // Dismissing a hidden overlay still publishes, with a new time.
    scheduler().advance(1.0);
    bus.overlayDismissSubject.send();
    EXPECT_FALSE(states.back().isVisible);
    EXPECT_DOUBLE_EQ(at(states.back()), 3.3);
}

TEST_F(IslandQueueTest, AReleasedQueueNeitherHidesNorListens) {
    bus.signalSubject.send(makeSignal(std::nullopt, QStringLiteral("a")));
    queue.reset();
    scheduler().advance(5.0);
    bus.signalSubject.send(makeSignal(std::nullopt, QStringLiteral("b")));
    bus.overlayDismissSubject.send();
    ASSERT_EQ(states.size(), 1u);
    EXPECT_TRUE(states[0].isVisible);
}

TEST_F(IslandQueueTest, AStackedSignalWithoutBundleKeepsTheEarlierOne) {
    signalAt(0.0, makeSignal(QStringLiteral("Mail"), QStringLiteral("a"), std::nullopt, QStringLiteral("com.example.mail")));
    signalAt(0.1, makeSignal(QStringLiteral("Mail"), QStringLiteral("b"), std::nullopt, QString()));
    signalAt(0.2, makeSignal(QStringLiteral("Mail"), QStringLiteral("c")));
    EXPECT_EQ(states.back().bundleId, QStringLiteral("com.example.mail"));
}

TEST_F(IslandQueueTest, ADismissDisarmsTheAutoHide) {
    signalAt(0.0, makeSignal(QStringLiteral("Mail"), QStringLiteral("a")));
    bus.overlayDismissSubject.send();
    const size_t count = states.size();
    scheduler().advance(10.0);
    EXPECT_EQ(states.size(), count);  // no second hidden state at the display timeout
}

TEST_F(IslandQueueTest, AStoppedQueueKeepsWhatItShowsAndNeitherHidesNorListens) {
    bus.signalSubject.send(makeSignal(QStringLiteral("Mail"), QStringLiteral("a")));
    queue->stop();
    log.clear();
    scheduler().advance(AppSettings::maxDisplayTimeout + 1);
    bus.signalSubject.send(makeSignal(QStringLiteral("Mail"), QStringLiteral("b")));
    bus.overlayDismissSubject.send();
    ASSERT_EQ(states.size(), 1u);
    EXPECT_TRUE(bus.overlayStateSubject.value().isVisible);
    EXPECT_TRUE(log.lines().empty());
}
