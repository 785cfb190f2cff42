#include "detection/polling_detector.h"

#include "core/wall_clock.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QBuffer>
#include <QImage>

#include <deque>
#include <map>

using platform::LogLevel;

namespace {

using C = SignalConfidence;

AXTreeSnapshot snapshot(int64_t count, std::optional<QString> message = std::nullopt, int64_t signature = 0,
                        std::optional<QString> appName = QStringLiteral("Mail")) {
    AXTreeSnapshot s;
    s.notificationCount = count;
    s.message = std::move(message);
    s.signature = signature;
    s.appName = std::move(appName);
    return s;
}

// A reading as the walk gives it: the texts in order, the first one the message, and the name
// picked among them.
AXTreeSnapshot walked(int64_t count, QStringList texts, std::optional<QString> appName,
                      std::vector<uint64_t> windows = {}, int64_t signature = 0) {
    AXTreeSnapshot s = snapshot(count, texts.value(0), signature, std::move(appName));
    s.texts = std::move(texts);
    for (uint64_t id : windows) s.windows.push_back(platform::AXElement(400, id));
    return s;
}

class PollingDetectorTest : public testsupport::QuillvexTest {
protected:
    PollingDetectorTest() {
        subscription = bus.signalSubject.sink([this](const NotificationSignal& s) { received.push_back(s); });
    }
    // Starts with `baseline`, then feeds one reading per tick of 0.8 s.
    void run(std::optional<AXTreeSnapshot> baseline, std::vector<std::optional<AXTreeSnapshot>> ticks) {
        readings.push_back(std::move(baseline));
        for (auto& t : ticks) readings.push_back(std::move(t));
        detector.start();
        scheduler().advance(0.8 * static_cast<double>(ticks.size()) + 0.01);
    }
    std::vector<C> confidences() const {
        std::vector<C> out;
        for (const auto& s : received) out.push_back(s.confidence);
        return out;
    }

    testsupport::FakeWorkspace workspace;  // icon lookups find nothing of the desktop's
    EventBus bus{scheduler()};
    std::vector<NotificationSignal> received;
    platform::AnyCancellable subscription;
    std::deque<std::optional<AXTreeSnapshot>> readings;
    int takes = 0;
    // Readings of single windows, by window id.
    std::map<uint64_t, AXTreeSnapshot> popups;
    std::vector<uint64_t> popupsRead;
    PollingDetector detector{bus, scheduler(),
                             [this]() -> std::optional<AXTreeSnapshot> {
                                 ++takes;
                                 if (readings.empty()) return std::nullopt;
                                 auto next = readings.front();
                                 readings.pop_front();
                                 return next;
                             },
                             [this](const platform::AXElement& window) -> std::optional<AXTreeSnapshot> {
                                 popupsRead.push_back(window.id());
                                 auto found = popups.find(window.id());
                                 if (found == popups.end()) return std::nullopt;
                                 return found->second;
                             }};
};

TEST_F(PollingDetectorTest, TakesABaselineAtStartThenReadsEveryEightTenthsOfASecondUntilStoppedOrGone) {
    detector.start();
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("PollingDetector: Starting polling (interval: 0.8s)")));
    EXPECT_EQ(takes, 1);
    scheduler().advance(0.79);
    EXPECT_EQ(takes, 1);
    scheduler().advance(0.01);
    EXPECT_EQ(takes, 2);
    detector.start();  // already running: nothing
    EXPECT_EQ(log.matching(QStringLiteral("PollingDetector: Starting")).size(), 1);
    detector.stop();
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("PollingDetector: Stopped")));

    // A detector released while running is never called again.
    {
        PollingDetector released(bus, scheduler(), [this] { return ++takes, std::optional<AXTreeSnapshot>(); });
        released.start();
    }
    scheduler().advance(5);
    EXPECT_EQ(takes, 3);
}

TEST_F(PollingDetectorTest, CountChangesGradeTheSignal) {
    struct Case {
        const char* what;
        std::optional<AXTreeSnapshot> baseline;
        std::vector<std::optional<AXTreeSnapshot>> ticks;
        std::vector<C> expected;
    };
    const std::vector<Case> cases = {
        {"+1 normal, +2 and +3 strong", snapshot(2), {snapshot(3), snapshot(5), snapshot(8)}, {C::normal, C::strong, C::strong}},
        // Ticks at 0.8 (+4, bulk), 1.6 (+1) and 2.4 (new message) fall in the cooldown; 3.2 does not.
        {"bulk then cooldown", snapshot(2), {snapshot(6), snapshot(7), snapshot(7, QStringLiteral("new")), snapshot(8)},
         {C::normal}},
        // A second bulk at 2.4 restarts the cooldown: the +1 at 3.2 is silenced, the one at 5.6 is not.
        {"bulk restarts cooldown", snapshot(0),
         {snapshot(5), snapshot(5), snapshot(10), snapshot(11), snapshot(11), snapshot(11), snapshot(12)},
         {C::normal}},
        {"a decrease becomes the baseline", snapshot(3), {snapshot(1), snapshot(2)}, {C::normal}},
        {"unchanged count, new content",
         snapshot(1, std::nullopt, 1),
         {snapshot(1, QStringLiteral("Hi"), 1), snapshot(1, QStringLiteral("Hello"), 1),
          snapshot(1, QStringLiteral("Hello"), 2), snapshot(1, QStringLiteral("Hello"), 2), snapshot(1, std::nullopt, 2)},
         {C::weak, C::weak, C::weak}},
        {"nothing at count zero", snapshot(0, std::nullopt, 1), {snapshot(0, QStringLiteral("Hi"), 2)}, {}},
        {"no baseline: the first reading is only stored", std::nullopt, {snapshot(5), snapshot(6)}, {C::normal}},
        {"a tick without a reading keeps the baseline", snapshot(1), {std::nullopt, snapshot(2)}, {C::normal}},
    };
    for (const Case& c : cases) {
        received.clear();
        readings.clear();
        detector.stop();
        run(c.baseline, c.ticks);
        EXPECT_EQ(confidences(), c.expected) << c.what;
    }
    EXPECT_TRUE(log.contains(LogLevel::Debug, QStringLiteral("PollingDetector: Ignoring bulk notification increase "
                                                             "(4 notifications) - likely notification center opened")));
    EXPECT_TRUE(
        log.contains(LogLevel::Debug, QStringLiteral("PollingDetector: Ignoring notification during cooldown period")));
    EXPECT_TRUE(
        log.contains(LogLevel::Debug, QStringLiteral("PollingDetector: Notification count decreased - ignoring")));
}

TEST_F(PollingDetectorTest, SignalsCarryTheSnapshotsContent) {
    AXTreeSnapshot next = snapshot(2, QStringLiteral("Lunch?"), 0, QStringLiteral("Chat"));
    next.bundleId = QStringLiteral("com.example.chat");
    next.appIconData = QByteArray("not an image");
    const QDateTime firstTick = wallClockNow(scheduler()).addMSecs(800);
    run(snapshot(1), {next, snapshot(3, std::nullopt, 0, std::nullopt)});

    ASSERT_EQ(received.size(), 2u);
    const NotificationSignal& s = received.front();
    EXPECT_EQ(s.sourceHint, QStringLiteral("Chat"));
    EXPECT_EQ(s.message, QStringLiteral("Lunch?"));
    EXPECT_EQ(s.bundleId, QStringLiteral("com.example.chat"));
    EXPECT_EQ(s.appIconData, QByteArray("not an image"));  // undecodable bytes pass unchanged
    EXPECT_FALSE(s.isCallAlert);
    EXPECT_EQ(s.timestamp, firstTick);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "PollingDetector: Emitting signal for 'Chat' with icon: true"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, "PollingDetector: snapshot count=2 message=Lunch? appName=Chat"));
    // No icon and no application: no icon.
    EXPECT_FALSE(received.back().appIconData.has_value());
    EXPECT_TRUE(log.contains("PollingDetector: Emitting signal for 'unknown' with icon: false"));
}

// A new popup is read as the observer reads one: alone, its title and text joined, and a name
// that is only its title or text is no application's.
TEST_F(PollingDetectorTest, ANewPopupGivesItsTitleAndTextAndNotItsTitleForTheApplication) {
    // One popup on screen, a second one comes; the whole tree begins with the older one.
    popups[8] = walked(1, {"Polled title", "Polled body"}, QStringLiteral("Polled title"));
    popups[8].bundleId = QStringLiteral("com.example.polled");
    run(walked(1, {"Older", "Still shown"}, QStringLiteral("Older"), {7}),
        {walked(2, {"Older", "Still shown", "Polled title", "Polled body"}, QStringLiteral("Older"), {7, 8}, 1),
         // Content that changes in place: the whole reading, read the same way.
         walked(2, {"Older", "Still shown", "Polled title", "Polled body"}, QStringLiteral("Still shown"), {7, 8}, 2),
         walked(2, {"Build finished", "Build finished", "All green"}, QStringLiteral("Builder"), {7, 8}, 3)});

    EXPECT_EQ(popupsRead, std::vector<uint64_t>{8});
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].confidence, C::normal);
    EXPECT_EQ(received[0].message, QStringLiteral("Polled title \u2022 Polled body"));
    EXPECT_FALSE(received[0].sourceHint);
    EXPECT_EQ(received[0].bundleId, QStringLiteral("com.example.polled"));
    EXPECT_EQ(received[1].message, QStringLiteral("Older \u2022 Still shown"));
    EXPECT_FALSE(received[1].sourceHint);
    EXPECT_EQ(received[2].message, QStringLiteral("Build finished \u2022 All green"));
    EXPECT_EQ(received[2].sourceHint, QStringLiteral("Builder"));
}

TEST_F(PollingDetectorTest, ALargeIconIsReencodedWithinFiveHundredTwelvePoints) {
    QImage image(1024, 256, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    AXTreeSnapshot next = snapshot(2);
    QBuffer buffer(&next.appIconData.emplace());
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "BMP"));
    run(snapshot(1), {next});
    EXPECT_EQ(QImage::fromData(received.front().appIconData.value_or(QByteArray()), "PNG").size(), QSize(512, 128));
}

TEST_F(PollingDetectorTest, NotificationCenterItselfNeverSignals) {
    run(snapshot(0), {snapshot(1, std::nullopt, 0, QStringLiteral("Notification Center")),
                      snapshot(2, std::nullopt, 0, QStringLiteral("通知センター"))});
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(log.count(QStringLiteral("PollingDetector: Ignoring notification from Notification Center")), 2);
}

}  // namespace
