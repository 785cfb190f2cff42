#include "drawn_pixels.h"
#include "test_island_view_fixture.h"

#include "overlay/island_panel.h"
#include "platform/workspace/icon_lookup.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QThreadPool>
#include <QWheelEvent>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

namespace overlaytest {
namespace {

using platform::Animation;
using platform::LogLevel;

const QStringList kFirst{QStringLiteral("First")};

TEST_F(IslandViewTest, HiddenStateIsAdoptedOnlyAfterTheShrink) {
    IslandView& v = view();
    send(visible(QStringLiteral("First")));
    at(1.0);
    send(hidden(QStringLiteral("Gone")));
    EXPECT_EQ(v.contentScaleX().lastAnimation()->animation, Animation::spring(0.3, 0.85, 0));
    EXPECT_EQ(v.contentScaleY().target(), 0.35);
    at(1.54);
    EXPECT_EQ(v.layout().texts(), kFirst);
    at(1.55);
    EXPECT_EQ(v.layout().texts(), QStringList{QStringLiteral("Gone")});
    EXPECT_FALSE(v.state().isVisible);

    // Two hidden states 0.3 s apart: only the second is adopted, 0.55 s after it came.
    send(visible(QStringLiteral("First")));
    at(3.0);
    send(hidden(QStringLiteral("Older")));
    at(3.3);
    send(hidden(QStringLiteral("Newer")));
    at(3.84);
    EXPECT_EQ(v.layout().texts(), kFirst);
    at(3.85);
    EXPECT_EQ(v.layout().texts(), QStringList{QStringLiteral("Newer")});
}

TEST_F(IslandViewTest, VisibleStateCancelsThePendingHiddenOneAndSpringsBackWithoutAJump) {
    IslandView& v = view();
    send(visible(QStringLiteral("First")));
    at(1.0);
    send(hidden(QStringLiteral("Gone")));
    at(1.2);
    const double shrinking = v.contentScaleX().value();
    ASSERT_GT(shrinking, 0.35);
    ASSERT_LT(shrinking, 1.0);

    send(visible(QStringLiteral("Second")));
    EXPECT_FALSE(v.hasPendingHiddenState());
    EXPECT_EQ(v.contentScaleX().lastAnimation()->animation, Animation::spring(0.4, 0.75, 0));
    EXPECT_NEAR(v.contentScaleX().lastAnimation()->from, shrinking, 1e-9);
    at(3.0);
    EXPECT_EQ(v.layout().texts(), QStringList{QStringLiteral("Second")});
    EXPECT_NEAR(v.contentScaleY().value(), 1.0, 1e-3);
}

TEST_F(IslandViewTest, VisibleAfterAnAdoptedHiddenStateGrowsFromTheShrunkSize) {
    IslandView& v = view();  // adopts the bus's initial hidden state
    at(1.0);
    send(visible(QStringLiteral("Hello")));
    EXPECT_EQ(v.contentScaleY().lastAnimation()->from, 0.35);
    EXPECT_EQ(v.contentScaleY().lastAnimation()->to, 1.0);

    bus.overlayDismissSubject.send();
    EXPECT_EQ(v.contentScaleX().target(), 0.35);
    EXPECT_TRUE(v.state().isVisible);  // the dismiss alone changes no state
}

TEST_F(IslandViewTest, AShrinkRepaintsOnlyTheCardOnlyForVisibleStepsAndEndsOnTheExactScale) {
    // What each paint covered, and the scale it drew.
    struct PaintSpy : QObject {
        std::vector<std::pair<QRect, double>> paints;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                paints.emplace_back(static_cast<QPaintEvent*>(event)->rect(),
                                    static_cast<IslandView*>(watched)->contentScaleX().value());
            return false;
        }
    } spy;
    IslandView& v = view();
    send(visible(QStringLiteral("Hello")));
    v.resize(v.sizeHint());
    v.show();
    at(2.0);
    QCoreApplication::processEvents();
    v.installEventFilter(&spy);

    bus.overlayDismissSubject.send();
    int moves = 0;
    int idleWakes = 0;  // frames that woke the thread and drew nothing
    for (double scale = v.contentScaleX().value(); v.contentScaleX().isAnimating(); scale = v.contentScaleX().value()) {
        const uint64_t ran = scheduler().runCount();
        const size_t painted = spy.paints.size();
        at(scheduler().elapsed() + 1.0 / 60);
        QCoreApplication::processEvents();
        moves += v.contentScaleX().value() != scale;
        idleWakes += scheduler().runCount() != ran && spy.paints.size() == painted;
        // A frame left undrawn moved the card's sides by less than half a pixel from the last drawn.
        if (spy.paints.size() == painted && !spy.paints.empty()) {
            EXPECT_LT(std::abs(v.contentScaleX().value() - spy.paints.back().second) * v.layout().frameSize.width(), 1.0)
                << scheduler().elapsed();
        }
    }
    ASSERT_FALSE(spy.paints.empty());
    EXPECT_LT(spy.paints.size(), static_cast<size_t>(moves));  // the spring's tail moves by less than half a pixel
    EXPECT_EQ(idleWakes, 0);  // nor does it wake the thread
    // After the first step the card no longer covers the whole view.
    for (size_t i = 1; i < spy.paints.size(); ++i) EXPECT_NE(spy.paints[i].first, v.rect()) << i;
    EXPECT_EQ(spy.paints.back().second, IslandView::shrunkScale);
}

// Qt's raster engine splits a large smooth blend across the thread pool and sleeps until the
// pool's threads are done: a wake-up of several threads for each picture of the card.
TEST_F(IslandViewTest, TheCardIsDrawnOnThisThreadAtRestAndThroughItsScale) {
    // The pool's threads by id.
    const auto pooledThreads = [] {
        std::set<std::string> ids;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(task.path() / "comm");
            std::string name;
            std::getline(comm, name);
            if (name == "Thread (pooled)") ids.insert(task.path().filename().string());
        }
        return ids;
    };
    IslandView& v = view();
    const OverlayState shown = visible(QStringLiteral("Build finished \u2022 All 12 targets are up to date"));
    send(shown);
    v.resize(v.sizeHint());
    v.show();
    // At either pixel ratio, at rest and through the shrink; at 1x also making the card's pictures
    // (at 2x the icon, scaled into the picture, still goes to the pool, once a notification).
    const auto framesOfAShrink = [&](qreal ratio) {
        send(shown);
        at(scheduler().elapsed() + 2.0);
        if (ratio > 1) rendered(v, ratio);
        // Ends the pool's threads: a blend handed to the pool from here on starts new ones. An
        // ended thread may still be leaving the process's list.
        QThreadPool::globalInstance()->waitForDone();
        const std::set<std::string> ended = pooledThreads();
        const auto started = [&] {
            std::set<std::string> ids = pooledThreads();
            for (const std::string& id : ended) ids.erase(id);
            return ids.size();
        };
        rendered(v, ratio);
        bus.overlayDismissSubject.send();
        int frames = 0;
        for (; v.contentScaleX().isAnimating() && frames < 100; ++frames) {
            at(scheduler().elapsed() + 1.0 / 60);
            rendered(v, ratio);
        }
        EXPECT_GT(frames, 10);
        EXPECT_EQ(started(), 0u) << "@" << ratio << "x";
    };
    framesOfAShrink(1);
    framesOfAShrink(2);
}

TEST_F(IslandViewTest, AScrollingRowIsRedrawnWhenItReachesAnotherPixelAndOnlyThen) {
    IslandView& v = view();
    send(visible(QStringLiteral("A message far too long for the pill it stands in, so that it scrolls along")));
    v.resize(v.sizeHint());
    v.show();
    const MarqueeText* row = v.marquee(v.layout().lines.front().key);
    ASSERT_TRUE(row);
    while (!row->isAnimating()) at(scheduler().elapsed() + 0.05);
    ASSERT_FALSE(v.contentScaleX().isAnimating());  // the grow has settled: only the row moves
    QCoreApplication::processEvents();

    struct PaintSpy : QObject {
        const MarqueeText* row;
        std::vector<double> offsets;  // the row's offset at each paint
        explicit PaintSpy(const MarqueeText* r) : row(r) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) offsets.push_back(row->offset());
            return false;
        }
    } spy(row);
    v.installEventFilter(&spy);
    std::vector<double> frames;
    spy.offsets.push_back(row->offset());  // drawn before
    int woken = 0;
    while (frames.size() < 60 && row->isAnimating()) {
        const uint64_t ran = scheduler().runCount();
        const size_t painted = spy.offsets.size();
        at(scheduler().elapsed() + 1.0 / 60);
        QCoreApplication::processEvents();
        frames.push_back(row->offset());
        // On a 1x screen the row stands at whole pixels: a frame is drawn once it has moved one.
        EXPECT_LT(spy.offsets.back() - row->offset(), 1.0 + 1e-9) << frames.size();
        // And only such a frame wakes the thread.
        if (scheduler().runCount() == ran) continue;
        ++woken;
        EXPECT_EQ(spy.offsets.size(), painted + 1) << "frame " << frames.size() << " woke the thread and drew nothing";
    }
    // 30 points a second at 60 frames a second: a new pixel every other frame.
    EXPECT_EQ(frames.size(), 60u);
    EXPECT_LE(spy.offsets.size(), 1 + frames.size() / 2 + 1);
    EXPECT_GE(spy.offsets.size(), 1 + frames.size() / 2 - 1);
    EXPECT_EQ(woken + 1, static_cast<int>(spy.offsets.size()));
}

class IslandViewInputTest : public IslandViewTest {
protected:
    QPointF centre() {
        view().resize(view().sizeHint());
        return view().frameRect().center();
    }
    void click() {
        const QPointF c = centre();
        QMouseEvent press(QEvent::MouseButtonPress, c, c, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, c, c, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&view(), &press);
        QApplication::sendEvent(&view(), &release);
    }
    // Whether the view kept the event (true) or passed it on; `time` is the server's, in ms. The
    // pointer is at `at`, by default the card's centre.
    bool wheel(int angleY, bool inverted, quint64 time = 0, std::optional<QPointF> at = std::nullopt) {
        const QPointF c = at.value_or(centre());
        QWheelEvent event(c, c, QPoint(), QPoint(0, angleY), Qt::NoButton, Qt::NoModifier, Qt::ScrollUpdate, inverted);
        event.setTimestamp(time);
        QApplication::sendEvent(&view(), &event);
        return event.isAccepted();
    }
    void enterAt(QPointF point) {
        QEnterEvent enter(point, point, point);
        QApplication::sendEvent(&view(), &enter);
    }
};

TEST_F(IslandViewInputTest, ClickOpensTheSourceApplicationElseNotificationCenter) {
    workspace.addApplication(7, std::nullopt, std::nullopt);
    workspace.addApplication(11, QStringLiteral("com.example.mail"), QStringLiteral("Mail"));
    workspace.launchableBundleIdentifiers.insert(QStringLiteral("com.example.calendar"));
    workspace.launchableNames.insert(QStringLiteral("Mai"));
    view();
    auto showAndClick = [this](std::optional<QString> hint, std::optional<QString> bundleId) {
        send(hidden(std::nullopt));
        OverlayState s = visible(QStringLiteral("Hi"), std::move(hint));
        s.bundleId = std::move(bundleId);
        send(s);
        click();
    };

    showAndClick(QStringLiteral("Calendar"), QStringLiteral("com.example.calendar"));
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("IslandView: Opened app with bundle ID: com.example.calendar")));

    showAndClick(QStringLiteral("mail"), QString());
    ASSERT_EQ(workspace.activations.size(), 1u);
    EXPECT_EQ(workspace.activations[0], std::make_pair(qint64(11), true));
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("IslandView: Activated running app: mail")));

    showAndClick(QStringLiteral("Mai"), std::nullopt);
    EXPECT_EQ(workspace.launchedNames, std::vector<QString>{QStringLiteral("Mai")});
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("IslandView: Launched app by name: Mai")));
    EXPECT_TRUE(scripts.scripts().isEmpty());

    showAndClick(std::nullopt, std::nullopt);
    EXPECT_TRUE(log.contains(LogLevel::Debug,
                             QStringLiteral("IslandView: Could not open source app, opening Notification Center")));
    EXPECT_EQ(notificationDaemon.shows, 1);
    EXPECT_EQ(scripts.scripts().size(), 1);
    // The desktop's notification daemon keeps a list: it shows that instead.
    notificationDaemon.hasList = true;
    showAndClick(std::nullopt, std::nullopt);
    EXPECT_EQ(notificationDaemon.shows, 2);
    EXPECT_EQ(scripts.scripts().size(), 1);
}

TEST_F(IslandViewInputTest, UpwardScrollOverTheOverlayDismissesAndTheRestPassesOn) {
    int dismissals = 0;
    const auto counting = bus.overlayDismissSubject.sink([&dismissals] { ++dismissals; });
    send(visible(QStringLiteral("Hi")));
    // Beside the card, in the window's clear part.
    const QPointF beside = view().frameRect().bottomRight() + QPointF(4, 4);
    EXPECT_FALSE(wheel(120, false, 0, beside));  // not hovering

    QEnterEvent enter(centre(), centre(), centre());
    QApplication::sendEvent(&view(), &enter);
    EXPECT_FALSE(wheel(48, false));  // 0.4 points
    EXPECT_FALSE(wheel(-60, false));
    EXPECT_EQ(dismissals, 0);
    EXPECT_TRUE(wheel(60, false));
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(view().contentScaleX().target(), 0.35);
    EXPECT_FALSE(wheel(360, true));  // natural scrolling: positive is downward
    EXPECT_TRUE(wheel(-360, true));
    EXPECT_EQ(dismissals, 2);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&view(), &leave);
    EXPECT_FALSE(wheel(120, false, 0, beside));
    EXPECT_EQ(dismissals, 2);
}

// The steps of a swipe that go on over the panel's place while it is off screen reach the panel
// alone; a card that comes back during them still counts the swipe as the one that sent the last away.
TEST_F(IslandViewInputTest, StepsWhileThePanelIsAwayKeepTheSwipeThatSentTheLastCardAway) {
    int dismissals = 0;
    const auto counting = bus.overlayDismissSubject.sink([&dismissals] { ++dismissals; });
    IslandPanel panel(QRectF(0, 0, 320, 36), nullptr, scheduler());
    panel.setStaged(true);
    auto* content = new IslandView(nullptr, bus, scheduler(), defaults(), workspace);
    panel.setContentView(content);
    send(visible(QStringLiteral("One")));
    content->resize(content->sizeHint());
    const QPointF c = content->frameRect().center();
    const QPointF global = content->mapToGlobal(c);
    const auto step = [c, global](QWidget& target, quint64 time) {
        QWheelEvent event(c, global, QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::ScrollUpdate, false);
        event.setTimestamp(time);
        QApplication::sendEvent(&target, &event);
    };
    step(*content, 1000);
    EXPECT_EQ(dismissals, 1);

    send(hidden(QStringLiteral("One")));
    step(panel, 1250);
    step(panel, 1500);
    send(visible(QStringLiteral("Two")));
    step(panel, 1750);
    step(*content, 2000);
    EXPECT_EQ(dismissals, 1);
    step(*content, 2300);
    EXPECT_EQ(dismissals, 2);

    // A panel away with content of another kind has no swipe to keep.
    panel.setContentView(new QWidget);
    step(panel, 2400);
}

// The catcher's crossings and the window's own may leave a card that came under a pointer at rest
// with a leave heard last: a step that lands on the card still sends it away, as it tells where the
// pointer is (a touchpad's swipe moves no pointer).
TEST_F(IslandViewInputTest, AStepOnACardThatHeardThePointerLeaveLastSendsItAway) {
    int dismissals = 0;
    const auto counting = bus.overlayDismissSubject.sink([&dismissals] { ++dismissals; });
    send(visible(QStringLiteral("Hi")));
    enterAt(centre());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&view(), &leave);
    EXPECT_FALSE(view().isHovering());
    EXPECT_TRUE(wheel(120, false));
    EXPECT_EQ(dismissals, 1);
    EXPECT_TRUE(view().isHovering());
}

// A swipe is its steps less than 0.3 s apart by the server's clock. What remains of one that sent
// a card away goes on sending that card away, never one that came meanwhile (while the last still
// went): that one goes with a swipe of its own.
TEST_F(IslandViewInputTest, TheRestOfASwipeThatSentACardAwayLeavesACardThatCameMeanwhile) {
    int dismissals = 0;
    const auto counting = bus.overlayDismissSubject.sink([&dismissals] { ++dismissals; });
    send(visible(QStringLiteral("One")));
    enterAt(centre());
    EXPECT_TRUE(wheel(120, false, 1000));
    EXPECT_TRUE(wheel(120, false, 1100));
    EXPECT_EQ(dismissals, 2);

    send(hidden(QStringLiteral("One")));
    send(visible(QStringLiteral("Two")));
    EXPECT_FALSE(wheel(120, false, 1399));
    EXPECT_FALSE(wheel(120, false, 1698));
    EXPECT_EQ(dismissals, 2);
    EXPECT_TRUE(wheel(120, false, 1998));
    EXPECT_EQ(dismissals, 3);
}

// The card grows out of its strip, and shrinks into it, under a pointer that may rest: it is
// hovered, and takes a swipe, while its frame lies under the pointer.
TEST_F(IslandViewInputTest, ACardGrowingUnderAPointerAtRestIsHovered) {
    send(visible(QStringLiteral("Hi")));
    const double x = centre().x();
    const QPointF rest(x, view().height() - 4);
    const QRect strip(0, 0, view().width(), 4);
    view().setPlacement(strip);
    enterAt(rest);
    EXPECT_FALSE(view().isHovering());
    view().setPlacement(view().rect());
    EXPECT_TRUE(view().isHovering());
    EXPECT_TRUE(wheel(120, false, 0, rest));
    view().setPlacement(strip);
    EXPECT_FALSE(view().isHovering());
}

// The card styles lay out their title in another font beside the application's name: the title
// is measured anew and its scroll starts again from its beginning when the name comes or goes.
TEST_F(IslandViewTest, ACardsTitleScrollsFromItsBeginningAgainWhenTheApplicationsNameComesOrGoes) {
    setStyle(QStringLiteral("notchSheet"));
    setShowAppName(false);
    IslandView& v = view();
    send(visible(QStringLiteral("A title far too long for the card it stands in, so that it scrolls along its row")));
    v.resize(v.sizeHint());
    v.show();
    const MarqueeText* title = v.marquee(QStringLiteral("title"));
    ASSERT_TRUE(title);
    for (int frame = 0; frame < 400 && title->offset() > -10; ++frame) at(scheduler().elapsed() + 0.05);
    ASSERT_LE(title->offset(), -10);

    setShowAppName(true);
    title = v.marquee(QStringLiteral("title"));
    ASSERT_TRUE(title);
    EXPECT_EQ(title->offset(), 0);
}

TEST_F(IslandViewTest, SettingsAreReadAtEachChange) {
    IslandView& v = view();
    send(visible(std::nullopt));
    setStyle(QStringLiteral("pill"));
    setTint(QString());
    EXPECT_EQ(v.layout().style, OverlayStyle::splitPill);
    EXPECT_EQ(v.layout().tint, OverlayTint::black);
    setStyle(QStringLiteral("notchSheet"));
    setTint(QStringLiteral("midnight"));
    EXPECT_EQ(v.layout().shapes.at(0).fill.rgb(), QColor::fromRgbF(0.05f, 0.06f, 0.08f).rgb());
    EXPECT_EQ(v.sizeHint(), QSize(386, 78));
}

}  // namespace
}  // namespace overlaytest

namespace overlaytest {
namespace {

// The glass card's highlight moves with the clock: the card at rest is drawn again frame after frame.
TEST_F(IslandViewTest, TheGlassCardAtRestIsDrawnAgainAsItsHighlightMoves) {
    struct PaintCount : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } spy;
    setStyle(QStringLiteral("liquidGlass"));
    IslandView& v = view();
    send(visible(QStringLiteral("Hi")));
    v.resize(v.sizeHint());
    v.show();
    at(2);
    QCoreApplication::processEvents();
    v.installEventFilter(&spy);
    for (int frame = 0; frame < 10; ++frame) {
        at(scheduler().elapsed() + 0.1);
        QCoreApplication::processEvents();
    }
    EXPECT_GE(spy.paints, 5);
}

TEST_F(IslandViewTest, OnlyTheGlassCardAsksForABlurBehindItFollowingItsShapeAndScale) {
    EXPECT_TRUE(view().blurRegion().isEmpty());
    setStyle(QStringLiteral("liquidGlass"));
    send(visible(QStringLiteral("Hi")));
    at(2);
    view().resize(view().sizeHint());
    const QRectF card = view().layout().contentRect.translated(view().frameRect().topLeft());
    const QRegion blur = view().blurRegion();
    EXPECT_EQ(blur.boundingRect(), card.toAlignedRect());
    // Square top corners, rounded bottom ones.
    EXPECT_TRUE(blur.contains(card.topLeft().toPoint()));
    EXPECT_TRUE(blur.contains(QPoint(qRound(card.right()) - 1, qRound(card.top()))));
    EXPECT_FALSE(blur.contains(QPoint(qRound(card.left()), qRound(card.bottom()) - 1)));
    EXPECT_TRUE(blur.contains(card.center().toPoint()));

    // Dismissed, the card shrinks towards its top centre and the blur with it.
    bus.overlayDismissSubject.send();
    at(3);
    EXPECT_LT(view().blurRegion().boundingRect().width(), card.width() / 2);

    setStyle(QStringLiteral("notchSheet"));
    EXPECT_TRUE(view().blurRegion().isEmpty());
}

}  // namespace
}  // namespace overlaytest
