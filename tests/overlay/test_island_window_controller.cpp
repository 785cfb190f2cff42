#include "core/app_icon_helper.h"
#include "core/app_settings.h"
#include "core/event_bus.h"
#include "overlay/island_panel.h"
#include "overlay/island_placement.h"
#include "overlay/island_view.h"
#include "overlay/island_window_controller.h"
#include "drawn_pixels.h"
#include "overlay_state_log.h"
#include "platform/animation/animation.h"
#include "support/fake_compositor.h"
#include "support/fake_pointer.h"
#include "support/fake_screens.h"
#include "support/fixtures.h"
#include "support/golden_image.h"

#include <QApplication>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QWindow>

#include <memory>
#include <utility>
#include <vector>

using platform::Animation;
using platform::AnimationRecorder;
using platform::TimingCurve;
using testsupport::notchedScreen;
using testsupport::plainScreen;

namespace {

const TimingCurve kShowCurve{0.2, 0.8, 0.25, 1.0};

bool near(const QRectF& a, const QRectF& b) {
    return std::abs(a.x() - b.x()) < 0.5 && std::abs(a.y() - b.y()) < 0.5 && std::abs(a.width() - b.width()) < 0.5 &&
           std::abs(a.height() - b.height()) < 0.5;
}

OverlayState overlay(bool visible, IslandMode mode, int count, std::optional<QString> message = QStringLiteral("hi")) {
    return OverlayState{visible,        mode, count, QDateTime(), std::move(message), QStringLiteral("Mail"),
                        QByteArray("i"), QStringLiteral("com.example.mail")};
}

class IslandWindowControllerTest : public testsupport::QuillvexTest {
protected:
    testsupport::FakeScreens screens;
    EventBus bus{scheduler()};
    overlaytest::OverlayStateLog stateLog{bus};
    std::vector<OverlayState>& published = stateLog.states;
    std::unique_ptr<IslandWindowController> controller;

    IslandWindowControllerTest() {
        screens.screenList = {notchedScreen(0, 0, 1512, 982, 32, 662, 662, 1)};
    }

    // Also lets the bus's current (hidden) state arrive.
    void start(IslandWindowController::ContentViewFactory factory = [] { return new QWidget; }) {
        controller = std::make_unique<IslandWindowController>(std::move(factory), bus, &screens, scheduler());
        scheduler().drain();
    }
    void publish(const OverlayState& state) {
        bus.overlayStateSubject.send(state);
        scheduler().drain();
    }
    IslandPanel& main() { return *controller->window(); }
    // Frames of an expanded split pill (376 × 42) on the notched screen.
    static QRectF expandedEnd() { return {568, 908, 376, 42}; }
    static QRectF expandedStrip() { return {568, 962.6, 376, 10.5}; }
};

// The paints that reach a widget: how many, and all they covered.
struct PaintWatch : QObject {
    int paints = 0;
    QRegion painted;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        ++paints;
        painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

}  // namespace

TEST_F(IslandWindowControllerTest, StartsPlacedAndHiddenSoTheFirstNotificationShowsAtOnce) {
    {
        const IslandWindowController withViews({}, bus, &screens, scheduler());
        EXPECT_NE(dynamic_cast<IslandView*>(withViews.window()->contentView()), nullptr);
    }
    defaults().set(AppSettings::styleKey, QStringLiteral("pill"));  // no such style: split pill
    start();
    EXPECT_EQ(main().frame(), QRectF(628, 908, 256, 42));  // hidden measures as peek
    // The bus's initial hidden state finds nothing shown: no slide, nothing to clear.
    EXPECT_FALSE(controller->isHideAnimating());
    EXPECT_FALSE(main().isOrderedIn());
    EXPECT_EQ(controller->activePresentation(), IslandWindowController::Presentation::hidden);
    EXPECT_TRUE(published.empty());

    // A hidden state with content while nothing was ever shown: its content is cleared at once.
    publish(overlay(false, IslandMode::stacked, 4));
    EXPECT_FALSE(controller->isHideAnimating());
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published[1].count, 0);
    EXPECT_FALSE(published[1].message);
    EXPECT_EQ(controller->activePresentation(), IslandWindowController::Presentation::hidden);

    publish(overlay(true, IslandMode::expanded, 1));
    EXPECT_TRUE(controller->isShowAnimating());
    EXPECT_TRUE(main().isOrderedIn());
}

TEST_F(IslandWindowControllerTest, FirstVisibleStateGrowsOutOfTheNotchInOneAnimation) {
    start();
    AnimationRecorder recorder;
    publish(overlay(true, IslandMode::expanded, 1));

    ASSERT_EQ(recorder.entries().size(), 1u);
    EXPECT_EQ(recorder.entries()[0].animation, Animation::timingCurve(kShowCurve, 0.42));
    const auto frameAnim = main().frameAnimator().lastAnimation();
    ASSERT_TRUE(frameAnim);
    EXPECT_TRUE(near(frameAnim->from, expandedStrip()));
    EXPECT_NEAR(frameAnim->from.y(), 962.6, 1e-9);
    EXPECT_EQ(frameAnim->to, expandedEnd());
    EXPECT_TRUE(main().isOrderedIn());
    EXPECT_EQ(main().alphaValue(), 1.0);
    EXPECT_TRUE(controller->isShowAnimating());
    EXPECT_EQ(controller->activePresentation(), IslandWindowController::Presentation::overlay);

    scheduler().advance(0.21);
    EXPECT_GT(main().frame().height(), 10.5);
    EXPECT_LT(main().frame().height(), 42);
    scheduler().advance(0.21);
    EXPECT_FALSE(controller->isShowAnimating());
    EXPECT_EQ(main().frame(), expandedEnd());
    // The card follows in Qt coordinates: 982 − 908 − 42 = 32 from the top.
    EXPECT_EQ(main().contentView()->geometry().translated(main().pos()), QRect(568, 32, 376, 42));

    // The same state again, or a settings change that alters nothing, costs no animation.
    recorder.clear();
    publish(overlay(true, IslandMode::expanded, 2));
    defaults().set(QStringLiteral("unrelated"), true);
    scheduler().drain();
    EXPECT_TRUE(recorder.entries().empty());

    publish(overlay(true, IslandMode::stacked, 3));
    ASSERT_EQ(recorder.entries().size(), 1u);
    EXPECT_EQ(recorder.entries()[0].animation, Animation::timingCurve(0.16, 1.0, 0.3, 1.0, 0.25));
    scheduler().advance(0.25);
    EXPECT_EQ(main().frame(), QRectF(588, 908, 336, 42));
}

// A show runs to its end as it began: a visible state that finds the window off screen in the
// middle of it (taken away by hand here) neither restarts it from the strip nor retargets it.
TEST_F(IslandWindowControllerTest, AShowArrivingWhileAShowAnimatesLeavesThatShowAlone) {
    start();
    publish(overlay(true, IslandMode::expanded, 1));
    scheduler().advance(0.2);
    main().orderOut();
    AnimationRecorder recorder;
    publish(overlay(true, IslandMode::stacked, 3));
    EXPECT_TRUE(recorder.entries().empty());
    EXPECT_EQ(main().frameAnimator().lastAnimation()->to, expandedEnd());
    EXPECT_FALSE(main().isOrderedIn());
    scheduler().advance(0.22);
    EXPECT_FALSE(controller->isShowAnimating());
    EXPECT_EQ(main().frame(), expandedEnd());
}

// A show that finds the card shown already where it belongs leaves it alone; one that finds it shown
// elsewhere (put there by hand here) brings it to its place.
TEST_F(IslandWindowControllerTest, AShowMovesACardShownElsewhereAndLeavesOneInPlace) {
    start();
    const auto showHidden = [this](const QRectF& at) {
        publish(overlay(true, IslandMode::expanded, 1));
        scheduler().advance(1.0);
        publish(overlay(false, IslandMode::expanded, 1));
        scheduler().advance(1.0);
        ASSERT_EQ(controller->activePresentation(), IslandWindowController::Presentation::hidden);
        main().orderFront();
        main().setAlphaValue(1);
        main().setFrame(at);
    };
    showHidden(expandedEnd());
    {
        AnimationRecorder recorder;
        publish(overlay(true, IslandMode::expanded, 2));
        EXPECT_TRUE(recorder.entries().empty());
        EXPECT_FALSE(controller->isShowAnimating());
    }
    showHidden(expandedEnd().translated(0, -30));
    publish(overlay(true, IslandMode::expanded, 3));
    EXPECT_TRUE(controller->isShowAnimating());
    scheduler().advance(1.0);
    EXPECT_EQ(main().frame(), expandedEnd());
}

TEST_F(IslandWindowControllerTest, HideCollapsesFadesThenClearsTheHiddenStateOnce) {
    start();
    publish(overlay(true, IslandMode::expanded, 1));
    scheduler().advance(1.0);
    AnimationRecorder recorder;
    published.clear();
    publish(overlay(false, IslandMode::stacked, 3));

    ASSERT_EQ(recorder.entries().size(), 1u);
    EXPECT_EQ(recorder.entries()[0].animation, Animation::timingCurve(0.25, 0.12, 0.25, 1.0, 0.28));
    EXPECT_TRUE(controller->isHideAnimating());
    EXPECT_TRUE(near(main().frameAnimator().lastAnimation()->to, expandedStrip()));
    scheduler().advance(0.28);
    ASSERT_EQ(recorder.entries().size(), 2u);
    EXPECT_EQ(recorder.entries()[1].animation, Animation::timingCurve(kShowCurve, 0.17));
    EXPECT_EQ(main().alphaValue(), 1.0);
    EXPECT_TRUE(main().isOrderedIn());
    scheduler().advance(0.17);
    EXPECT_EQ(main().alphaValue(), 0.0);
    EXPECT_FALSE(main().isOrderedIn());
    EXPECT_FALSE(controller->isHideAnimating());
    EXPECT_EQ(controller->activePresentation(), IslandWindowController::Presentation::hidden);

    EXPECT_EQ(published.size(), 1u);  // only the queue's hidden state so far
    const OverlayState* clearedState = stateLog.nextAfter(scheduler(), 0.1);
    ASSERT_TRUE(clearedState);
    const OverlayState cleared = *clearedState;
    EXPECT_FALSE(cleared.isVisible);
    EXPECT_EQ(cleared.count, 0);
    EXPECT_EQ(cleared.mode, IslandMode::peek);
    EXPECT_FALSE(cleared.message);
    EXPECT_FALSE(cleared.sourceHint);
    EXPECT_FALSE(cleared.appIconData);
    EXPECT_EQ(cleared.bundleId, QStringLiteral("com.example.mail"));
    scheduler().advance(5.0);
    EXPECT_EQ(published.size(), 2u);  // the controller's own cleared state starts nothing new
}

// The window is its card with a point to spare when it is ordered in, and grows at each motion's
// start to all the motion covers, so no frame between resizes it; on screen it keeps that room
// (the card collapses back into the strip it grew out of) and shrinks again off screen. The card
// stands where it did in a window of any size, and the window takes input on it and, through its
// hide, where it stood as the hide began, so a swipe that sent it away stays on it.
TEST_F(IslandWindowControllerTest, TheWindowHoldsItsCardAndTheRoomOfItsMotionsWhileShown) {
    start();
    const auto card = [&] { return main().cardRect().translated(main().pos()); };
    EXPECT_EQ(main().geometry(), QRect(627, 31, 258, 44));  // placed, hidden: peek 256 × 42
    const auto motion = [&](const QRect& window, double seconds, const QRect& held = {}) {
        for (double t = 0; t < seconds; t += 0.05, scheduler().advance(0.05)) {
            EXPECT_EQ(main().geometry(), window) << t;
            EXPECT_TRUE(main().geometry().contains(card())) << t;
            EXPECT_EQ(main().windowOpacity(), 1.0);
            EXPECT_EQ(main().shape(), main().alphaValue() > 0 ? QRegion(main().cardRect()) : QRegion()) << t;
            // A hide under way (a place held) keeps the input, also once faded out.
            const bool takesInput = main().isOrderedIn() && (main().alphaValue() > 0 || !held.isEmpty());
            EXPECT_EQ(main().inputArea().translated(main().pos()), takesInput ? QRegion(card()) + held : QRegion()) << t;
        }
    };
    publish(overlay(true, IslandMode::expanded, 1));
    // Out of the strip, 962.6 up to 973.1, down to the card at 908: Qt y 8.9 to 74.
    EXPECT_LT(card().height(), 42);
    const QRect shown(567, 7, 378, 68);
    motion(shown, 1.0);
    EXPECT_EQ(card(), QRect(568, 32, 376, 42));
    publish(overlay(true, IslandMode::stacked, 3));
    motion(shown, 0.5);
    EXPECT_EQ(card(), QRect(588, 32, 336, 42));
    publish(overlay(false, IslandMode::stacked, 3));
    motion(shown, 0.5, QRect(588, 32, 336, 42));  // the collapse into the strip and the fade
    EXPECT_FALSE(main().isOrderedIn());
    EXPECT_TRUE(main().shape().isEmpty());
    EXPECT_TRUE(main().inputArea().isEmpty());

    // The next show starts from the strip: the room of the last one is gone.
    defaults().set(AppSettings::styleKey, QStringLiteral("liquidGlass"));  // another size
    publish(overlay(true, IslandMode::peek, 1));
    EXPECT_EQ(main().geometry(), QRect(582, 1, 348, 118));  // strip Qt y 2 to 23.5, card 32 to 118
    scheduler().advance(1.0);
    EXPECT_EQ(card(), QRect(583, 32, 346, 86));
    EXPECT_EQ(main().geometry(), QRect(582, 1, 348, 118));
}

TEST_F(IslandWindowControllerTest, AShowResizesTheNativeWindowOnceAtMostAndNotWhenTheLastShowsRoomFits) {
    // Each native move or resize is a configure the window system sends back, which Qt answers
    // with round trips to the server.
    struct NativeGeometry : QObject {
        int changes = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            changes += event->type() == QEvent::Resize || event->type() == QEvent::Move;
            return false;
        }
    } native;
    start();
    main().winId();
    main().windowHandle()->installEventFilter(&native);
    // The window system reports through the event loop, in the frames' passes.
    const auto frames = [&](double seconds) {
        for (double t = 0; t < seconds; t += 0.05) {
            scheduler().advance(0.05);
            QCoreApplication::processEvents();
        }
    };
    // The changes of the show, then of the hide.
    const auto showAndHide = [&] {
        native.changes = 0;
        publish(overlay(true, IslandMode::expanded, 1));
        frames(1.0);
        const int shown = std::exchange(native.changes, 0);
        publish(overlay(false, IslandMode::expanded, 1));
        frames(1.0);
        EXPECT_FALSE(main().isOrderedIn());
        return std::pair(shown, native.changes);
    };
    const auto [firstShow, firstHide] = showAndHide();
    EXPECT_LE(firstShow, 2);  // a move and a resize together
    EXPECT_EQ(firstHide, 0);
    EXPECT_EQ(showAndHide(), std::pair(0, 0));
    EXPECT_EQ(main().geometry(), QRect(567, 7, 378, 68));
}

// Without a compositor the window exists only where its card draws, and it takes input only there
// with or without one: through every frame of a show, a resize and a hide, its shape is the split
// pill's two capsules as they are drawn at that moment, never the notch between them.
TEST_F(IslandWindowControllerTest, TheWindowsShapeIsWhatItsCardDrawsThroughEveryFrame) {
    const testsupport::FakeCompositor noCompositor(false);
    const QTemporaryDir apps;  // no icon is found
    const QString previousRoot = AppIconHelper::setRoot(apps.path());
    start({});
    int frames = 0;
    const auto everyFrame = [&](double seconds) {
        for (double t = 0; t < seconds; t += 1.0 / 60, scheduler().advance(1.0 / 60)) {
            const QImage image = overlaytest::rendered(main());
            const QRegion shape = main().shape();
            // The window holds the card's frame as the view lays it out, however small the card.
            EXPECT_TRUE(QRectF(main().rect()).contains(static_cast<IslandView*>(main().contentView())->frameRect()));
            const QRegion drawn = overlaytest::drawnPixels(image);
            EXPECT_TRUE((shape ^ drawn).isEmpty()) << "frame " << frames << ": " << (shape - drawn).rectCount()
                                                   << " undrawn, " << (drawn - shape).rectCount() << " outside";
            ++frames;
        }
    };
    publish(overlay(true, IslandMode::expanded, 1, QStringLiteral("Build finished")));
    everyFrame(1.0);
    // At rest, the notch between the pills left out.
    const QPoint card = main().cardRect().topLeft();
    EXPECT_FALSE(main().shape().contains(card + QPoint(188, 21)));
    EXPECT_EQ(main().inputArea(), QRegion(main().cardRect()));  // the notch too
    EXPECT_TRUE(main().shape().contains(card + QPoint(78, 21)));
    EXPECT_TRUE(main().shape().contains(card + QPoint(298, 21)));
    publish(overlay(true, IslandMode::stacked, 3, QStringLiteral("Build finished")));
    everyFrame(1.0);
    publish(overlay(false, IslandMode::stacked, 3, QStringLiteral("Build finished")));
    everyFrame(1.0);
    EXPECT_TRUE(main().shape().isEmpty());
    AppIconHelper::setRoot(previousRoot);
}

// A card sliding in at its full size is drawn for its shape once, not once a frame, however many
// half-pixel places it passes; the shape stays what the card draws.
TEST_F(IslandWindowControllerTest, ASlidingCardsShapeIsDrawnOnceAndMovedWithIt) {
    const testsupport::FakeCompositor noCompositor(false);
    const QTemporaryDir apps;  // no icon is found
    const QString previousRoot = AppIconHelper::setRoot(apps.path());
    start({});
    publish(overlay(true, IslandMode::expanded, 1, QStringLiteral("Build finished")));
    const auto* view = static_cast<IslandView*>(main().contentView());
    const int rendersBefore = view->scaledPictureRenders();
    std::vector<QRegion> shapes;
    for (int frame = 0; frame < 30; ++frame, scheduler().advance(1.0 / 60)) {
        const QRegion drawn = overlaytest::drawnPixels(overlaytest::rendered(main()));
        const QRegion shape = main().shape();
        EXPECT_TRUE((shape ^ drawn).isEmpty()) << "frame " << frame;
        if (shapes.empty() || shapes.back() != shape) shapes.push_back(shape);
    }
    EXPECT_GE(shapes.size(), 5u);
    EXPECT_LE(view->scaledPictureRenders() - rendersBefore, 1);
    AppIconHelper::setRoot(previousRoot);
}

// Without a compositor, where the window is cut to its card, a frame draws only the columns of the
// split pill's capsules: the notch between them is neither cleared, drawn nor sent. Every pixel the
// window shows is still, every frame, what a full drawing shows; a compositor that starts shows
// all of the window, and all of it is drawn at once, before anything else runs.
TEST_F(IslandWindowControllerTest, WithoutACompositorFramesDrawOnlyWhereTheWindowShows) {
    testsupport::FakeCompositor compositor(false);
    const QTemporaryDir apps;  // no icon is found
    const QString previousRoot = AppIconHelper::setRoot(apps.path());
    start({});
    PaintWatch watch;
    main().contentView()->installEventFilter(&watch);  // it fills the window
    const auto copyIn = [](QImage& onto, const QImage& from, const QRegion& where) {
        QPainter painter(&onto);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setClipRegion(where);
        painter.drawImage(0, 0, from);
    };
    // The window's pixels as drawn so far (each paint draws its area afresh); whether they are, in
    // `where`, what a full drawing shows now.
    QImage held;
    const auto drawnAsAWhole = [&](const QRegion& where, bool laterInThePass = true) {
        if (laterInThePass) QApplication::sendPostedEvents();
        const QRegion painted = std::exchange(watch.painted, QRegion());
        const QImage full = overlaytest::rendered(main());
        watch.painted = QRegion();
        if (held.size() != full.size()) held = QImage(full.size(), full.format());
        copyIn(held, full, painted);
        QImage elsewhereWhole = held;
        copyIn(elsewhereWhole, full, QRegion(held.rect()) - where);
        return elsewhereWhole == full;
    };
    int frames = 0;
    const auto everyFrame = [&](double seconds) {
        for (double t = 0; t < seconds && main().isOrderedIn(); t += 1.0 / 60, ++frames) {
            const QRect window = main().geometry();
            scheduler().advance(1.0 / 60);
            const QRect notch(main().width() / 2 - 2, 0, 5, main().height());
            // A resized window is drawn whole.
            EXPECT_TRUE(main().geometry() != window || !watch.painted.intersects(notch)) << "frame " << frames;
            EXPECT_TRUE(drawnAsAWhole(main().shape())) << "frame " << frames;
        }
    };
    // Each new state redraws the card in the loop's next pass, apart from the frames.
    for (const auto& [state, seconds] : {std::pair{overlay(true, IslandMode::expanded, 1, QStringLiteral("Build finished")), 1.0},
                                         {overlay(true, IslandMode::stacked, 3, QStringLiteral("Build finished")), 0.5},
                                         {overlay(false, IslandMode::stacked, 3, QStringLiteral("Build finished")), 0.2}}) {
        publish(state);
        QApplication::processEvents();
        drawnAsAWhole(QRegion());
        everyFrame(seconds);
    }
    EXPECT_GE(frames, 100);
    ASSERT_TRUE(main().isOrderedIn());  // in the middle of the collapse

    compositor.set(true);
    EXPECT_TRUE(drawnAsAWhole(main().rect(), false));
    AppIconHelper::setRoot(previousRoot);
}

// Cut to its capsules, a scrolling title is still drawn only when it reaches another pixel: its
// row counts as drawn where the window shows it, though the room of its shadow reaches beyond.
TEST_F(IslandWindowControllerTest, AScrollingTitleCutToItsCapsuleIsDrawnOnlyAtEachNewPixel) {
    const testsupport::FakeCompositor noCompositor(false);
    const QTemporaryDir apps;  // no icon is found
    const QString previousRoot = AppIconHelper::setRoot(apps.path());
    start({});
    publish(overlay(true, IslandMode::expanded, 1, QStringLiteral("A title far too long for its capsule, so it scrolls")));
    const auto* view = static_cast<IslandView*>(main().contentView());
    const MarqueeText* row = view->marquee(view->layout().lines.front().key);
    ASSERT_TRUE(row);
    while (!row->isAnimating()) scheduler().advance(0.05);
    ASSERT_FALSE(view->contentScaleX().isAnimating());
    QApplication::processEvents();
    PaintWatch watch;
    main().contentView()->installEventFilter(&watch);
    for (int frame = 0; frame < 60; ++frame) scheduler().advance(1.0 / 60);
    // 30 points a second at 60 frames a second: a new pixel every other frame.
    EXPECT_TRUE(row->isScrolling());
    EXPECT_NEAR(watch.paints, 30, 1);
    AppIconHelper::setRoot(previousRoot);
}

// The card as the window draws it, at rest and through its fade, as sharp at 2x as the view on its
// own: a picture of it at one pixel per point would be scaled up.
TEST_F(IslandWindowControllerTest, TheWindowDrawsItsCardAtTheDevicesPixelRatio) {
    const QTemporaryDir apps;  // no icon is found
    const QString previousRoot = AppIconHelper::setRoot(apps.path());
    start({});
    publish(overlay(true, IslandMode::expanded, 1, QStringLiteral("Build finished")));
    scheduler().advance(1.0);
    const QRect card = main().cardRect();
    for (const double alpha : {1.0, 0.5}) {
        main().setAlphaValue(alpha);
        scheduler().drain();
        // Faded with the painter's opacity, the card drawn as one picture: no offscreen effect.
        EXPECT_EQ(main().contentView()->graphicsEffect(), nullptr);
        EXPECT_EQ(static_cast<IslandView*>(main().contentView())->contentOpacity(), alpha);
        EXPECT_GOLDEN(QStringLiteral("window-card-alpha%1").arg(alpha * 100), card.size(), [&](QPainter& painter) {
            main().render(&painter, QPoint(), QRegion(card), QWidget::DrawChildren);  // the card at the top left
        });
    }
    AppIconHelper::setRoot(previousRoot);
}

// Each frame of a show, a resize and a hide is painted in the pass of the event loop that computes
// it: nothing is posted to the window for a later pass, which would wake the thread once more. Only
// a frame that resizes the window (where a motion rests) lets the toolkit's own request through.
TEST_F(IslandWindowControllerTest, EachFrameIsPaintedInThePassThatComputesIt) {
    const QTemporaryDir apps;  // no icon is found
    const QString previousRoot = AppIconHelper::setRoot(apps.path());
    start({});
    struct Watch : QObject {
        QObject* window = nullptr;
        bool ticking = false;
        int paintedInTicks = 0;
        int postedRequests = 0;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (watched == window && event->type() == QEvent::UpdateRequest && !ticking) ++postedRequests;
            if (watched != window && event->type() == QEvent::Paint && ticking) ++paintedInTicks;
            return false;
        }
    } watch;
    watch.window = &main();
    main().installEventFilter(&watch);
    main().contentView()->installEventFilter(&watch);
    const auto frames = [&](double seconds) {
        QApplication::processEvents();  // the state's own redraw, and the window's exposure
        for (double t = 0; t < seconds; t += 1.0 / 60) {
            const QRect window = main().geometry();
            watch.ticking = true;
            scheduler().advance(1.0 / 60);
            watch.ticking = false;
            const int before = watch.postedRequests;
            QApplication::sendPostedEvents();
            if (main().geometry() != window) continue;
            EXPECT_EQ(watch.postedRequests, before) << "a request posted at " << scheduler().elapsed();
        }
    };
    publish(overlay(true, IslandMode::expanded, 1, QStringLiteral("Build finished")));
    frames(1.0);
    const int shown = watch.paintedInTicks;
    EXPECT_GE(shown, 10);
    publish(overlay(true, IslandMode::stacked, 3, QStringLiteral("Build finished")));
    frames(0.5);
    const int resized = watch.paintedInTicks;
    EXPECT_GE(resized - shown, 5);
    publish(overlay(false, IslandMode::stacked, 3, QStringLiteral("Build finished")));
    frames(1.0);
    EXPECT_FALSE(main().isOrderedIn());
    EXPECT_GE(watch.paintedInTicks - resized, 15);  // the collapse and the fade
    AppIconHelper::setRoot(previousRoot);
}

TEST_F(IslandWindowControllerTest, TheCardMovesOnEveryFrameItReachesAnotherPointAndTheThreadWakesForNoOther) {
    start();
    // Where the frame's value is drawn on this screen: whole points, counted from the top.
    const auto drawn = [](const QRectF& f) {
        return QRect(int(std::lround(f.x())), int(std::lround(982 - f.y() - f.height())), int(std::lround(f.width())),
                     int(std::lround(f.height())));
    };
    int moved = 0;
    int idle = 0;  // frames that woke the thread and changed nothing on show
    const auto frames = [&](double seconds) {
        for (double t = 0; t < seconds; t += 1.0 / 60) {
            const QRect before = main().cardRect().translated(main().geometry().topLeft());
            const double alpha = main().alphaValue();
            const uint64_t ran = scheduler().runCount();
            scheduler().advance(1.0 / 60);
            const QRect card = main().cardRect().translated(main().geometry().topLeft());
            EXPECT_EQ(card, drawn(main().frame())) << "at " << scheduler().elapsed();
            moved += card != before;
            idle += scheduler().runCount() != ran && card == before && main().alphaValue() == alpha;
        }
    };
    publish(overlay(true, IslandMode::expanded, 1));  // grows out of the strip
    frames(1.0);
    publish(overlay(false, IslandMode::expanded, 1));  // collapses into it and fades
    frames(1.0);
    EXPECT_GE(moved, 20);
    EXPECT_LE(idle, 2);  // the show's end notice and the hide's completion, at their own times
}

TEST_F(IslandWindowControllerTest, VisibleStatesDuringAHideAreReplayedInOrderAndHiddenOnesDropped) {
    start();
    publish(overlay(true, IslandMode::expanded, 1));
    scheduler().advance(1.0);
    publish(overlay(false, IslandMode::expanded, 1));
    scheduler().advance(0.1);

    AnimationRecorder recorder;
    publish(overlay(true, IslandMode::peek, 1));
    publish(overlay(false, IslandMode::peek, 1));
    publish(overlay(true, IslandMode::expanded, 2));
    publish(overlay(true, IslandMode::stacked, 3));
    EXPECT_TRUE(recorder.entries().empty());

    scheduler().advance(0.35);  // the hide ends
    ASSERT_EQ(recorder.entries().size(), 4u);  // fade, then one show and two resizes
    EXPECT_EQ(recorder.entries()[1].animation.duration(), 0.42);
    EXPECT_EQ(recorder.entries()[2].animation.duration(), 0.25);
    EXPECT_EQ(recorder.entries()[3].animation.duration(), 0.25);
    EXPECT_EQ(main().frameAnimator().lastAnimation()->to, QRectF(588, 908, 336, 42));
    EXPECT_EQ(controller->activePresentation(), IslandWindowController::Presentation::overlay);
    EXPECT_TRUE(main().isOrderedIn());
    scheduler().advance(1.0);
    EXPECT_EQ(main().frame(), QRectF(588, 908, 336, 42));
    // The bus still holds the visible state: nothing gets cleared.
    for (const auto& s : published) EXPECT_TRUE(s.isVisible || s.count != 0 || s.message);
}

TEST_F(IslandWindowControllerTest, ShortVisibleWindowSlidesUpAndFades) {
    start();
    platform::withoutAnimation([&] { main().setFrame(QRectF(600, 970, 100, 8)); });
    main().orderFront();
    AnimationRecorder recorder;
    publish(overlay(false, IslandMode::peek, 1));
    ASSERT_EQ(recorder.entries().size(), 1u);
    EXPECT_EQ(recorder.entries()[0].animation, Animation::timingCurve(0.25, 0.1, 0.25, 1.0, 0.45));
    EXPECT_EQ(main().frameAnimator().lastAnimation()->to, QRectF(600, 950 + 50, 100, 8));
    scheduler().advance(0.45);
    EXPECT_FALSE(main().isOrderedIn());
    EXPECT_EQ(main().alphaValue(), 0.0);
}

TEST_F(IslandWindowControllerTest, AWindowTallerThanTenPointsCollapsesIntoTheNotch) {
    start();
    platform::withoutAnimation([&] { main().setFrame(QRectF(600, 960, 100, 15)); });
    main().orderFront();
    AnimationRecorder recorder;
    publish(overlay(false, IslandMode::peek, 1));
    ASSERT_FALSE(recorder.entries().empty());
    EXPECT_EQ(recorder.entries()[0].animation, Animation::timingCurve(0.25, 0.12, 0.25, 1.0, 0.28));
}

TEST_F(IslandWindowControllerTest, AllScreensGetSupplementalPanelsThatFollowTheScreenList) {
    screens.screenList = {plainScreen(0, 0, 1920, 1080, 25, 7), notchedScreen(1920, 0, 1512, 982, 32, 662, 662, 1),
                          plainScreen(-1280, 0, 1280, 1024, 25, 9)};
    defaults().set(AppSettings::notificationDisplayScreenKey, QStringLiteral("all"));
    int made = 0;
    start([&made] {
        ++made;
        return new QLabel;
    });
    ASSERT_EQ(controller->supplementalPanels().size(), 2u);
    EXPECT_EQ(made, 3);
    EXPECT_EQ(controller->allManagedWindows().size(), 3u);

    publish(overlay(true, IslandMode::expanded, 1));
    scheduler().advance(0.5);
    EXPECT_EQ(main().frame(), QRectF(772, 1013, 376, 42));
    EXPECT_EQ(controller->supplementalPanels().at(1)->frame(), QRectF(2488, 908, 376, 42));
    EXPECT_EQ(controller->supplementalPanels().at(9)->frame(), QRectF(-828, 957, 376, 42));
    EXPECT_TRUE(controller->supplementalPanels().at(9)->isOrderedIn());

    // Unplugging a screen closes its panel at the next resolve (here a settings change).
    screens.screenList.pop_back();
    defaults().set(AppSettings::styleKey, QStringLiteral("singlePill"));
    scheduler().drain();
    EXPECT_EQ(controller->supplementalPanels().size(), 1u);
    EXPECT_EQ(main().frameAnimator().lastAnimation()->to, QRectF(797, 1013, 326, 42));

    // Back to the main screen: the remaining panel closes; the main window moves to the built-in one.
    defaults().set(AppSettings::notificationDisplayScreenKey, QStringLiteral("main"));
    scheduler().drain();
    EXPECT_TRUE(controller->supplementalPanels().empty());
    EXPECT_EQ(main().frameAnimator().lastAnimation()->to, QRectF(2513, 908, 326, 42));
}

TEST_F(IslandWindowControllerTest, TheOverlayShowsUnderThePointerReadOnlyWhenItDecidesAndNotAgainWhileFollowed) {
    screens.screenList = {plainScreen(0, 0, 1920, 1080, 25, 7), notchedScreen(1920, 0, 1512, 982, 32, 662, 662, 1)};
    testsupport::FakePointerMonitor pointer;
    start();
    // The built-in screen, whatever the pointer: nothing asks where it is.
    publish(overlay(true, IslandMode::expanded, 1));
    scheduler().advance(0.5);
    EXPECT_EQ(main().frame(), QRectF(2488, 908, 376, 42));
    EXPECT_EQ(screens.mouseQueries, 0);

    // Under the pointer: read once for the show that follows the change.
    screens.mouse = QPointF(100, 500);
    defaults().set(AppSettings::notificationDisplayScreenKey, QStringLiteral("current"));
    scheduler().drain();
    EXPECT_EQ(main().frameAnimator().lastAnimation()->to, QRectF(772, 1013, 376, 42));
    EXPECT_EQ(screens.mouseQueries, 1);

    // A monitor follows the pointer: where it last saw it decides, and the window server is not asked.
    auto followed = pointer.addGlobalMonitor([](const platform::PointerEvent&) {});
    pointer.location = QPointF(2500, 500);
    publish(overlay(true, IslandMode::peek, 1));
    scheduler().advance(0.5);
    EXPECT_EQ(main().frame().center().x(), 2676);
    EXPECT_EQ(screens.mouseQueries, 1);
    pointer.removeMonitor(*followed);
}

TEST_F(IslandWindowControllerTest, NoScreensMeansNoShowButThePresentationStillCounts) {
    screens.screenList.clear();
    start();
    AnimationRecorder recorder;
    publish(overlay(true, IslandMode::expanded, 1));
    EXPECT_TRUE(recorder.entries().empty());
    EXPECT_FALSE(main().isOrderedIn());
    EXPECT_EQ(controller->activePresentation(), IslandWindowController::Presentation::overlay);
}

TEST_F(IslandWindowControllerTest, PanelIsAFocuslessToolKeptWhereverItIsPut) {
    start();
    IslandPanel& panel = main();
    EXPECT_FALSE(panel.canBecomeKey() || panel.canBecomeMain());
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(panel.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(panel.level(), IslandPanel::screenSaverLevel);

    // 50 points above the top of the screen, exactly as set.
    const QRectF above(500, 1032, 300, 40);
    platform::withoutAnimation([&] { panel.setFrame(above); });
    panel.orderFront();
    EXPECT_EQ(panel.frame(), above);
    EXPECT_EQ(panel.contentView()->geometry().translated(panel.pos()), QRect(500, -90, 300, 40));
    EXPECT_FALSE(panel.currentScreen());
}

TEST_F(IslandWindowControllerTest, AStoppedControllerAndItsViewsHoldStillWhateverTheBusSays) {
    screens.screenList.push_back(plainScreen(1512, 0, 1920, 1080, 25, 7));
    defaults().set(AppSettings::notificationDisplayScreenKey, QStringLiteral("all"));
    start({});
    std::vector<IslandView*> views;
    for (IslandPanel* panel : controller->allManagedWindows()) {
        views.push_back(dynamic_cast<IslandView*>(panel->contentView()));
        ASSERT_NE(views.back(), nullptr);
        EXPECT_TRUE(views.back()->hasPendingHiddenState());  // the bus's first, hidden state
    }
    ASSERT_EQ(views.size(), 2u);
    publish(overlay(true, IslandMode::expanded, 1));
    scheduler().advance(0.5);
    publish(overlay(false, IslandMode::expanded, 1));  // the hide starts, the views shrink
    ASSERT_TRUE(controller->isHideAnimating());

    controller->stop();
    published.clear();
    log.clear();
    const QRectF collapseTo = main().frameAnimator().lastAnimation()->to;
    publish(overlay(true, IslandMode::stacked, 2));
    scheduler().advance(5.0);
    defaults().set(AppSettings::styleKey, QStringLiteral("singlePill"));
    scheduler().advance(5.0);

    for (IslandView* view : views) {
        EXPECT_FALSE(view->hasPendingHiddenState());
        EXPECT_TRUE(view->state().isVisible);
        EXPECT_EQ(view->state().count, 1);
    }
    // Neither the new state nor the setting moves the window, and the hide's later steps are dropped.
    EXPECT_EQ(main().frameAnimator().lastAnimation()->to, collapseTo);
    EXPECT_TRUE(main().isOrderedIn());
    EXPECT_EQ(published.size(), 1u);  // the test's own state; no cleared state follows
    EXPECT_TRUE(log.lines().empty()) << log.texts().join('\n').toStdString();
}

TEST_F(IslandWindowControllerTest, ACardShrunkOutOfItsStripWakesNothingWhileItFades) {
    const QTemporaryDir apps;  // no icon is found
    const QString previousRoot = AppIconHelper::setRoot(apps.path());
    start({});
    const QString title = QStringLiteral("Build finished, and a title long enough to scroll along the pill");
    publish(overlay(true, IslandMode::expanded, 1, title));
    scheduler().advance(2.5);
    publish(overlay(false, IslandMode::expanded, 1, title));
    // The card collapses into the strip and shrinks above it, its title still scrolling; then
    // the window fades out with nothing of the card left in it to show the fade.
    int fading = 0, woken = 0;
    for (int frame = 0; frame < 60; ++frame) {
        const double alpha = main().alphaValue();
        const uint64_t ran = scheduler().runCount();
        scheduler().advance(1.0 / 60);
        if (alpha <= 0 || alpha >= 1 || main().alphaValue() <= 0) continue;
        ++fading;
        woken += scheduler().runCount() != ran;
    }
    EXPECT_GE(fading, 6);
    EXPECT_LE(woken, 1);  // the shrink's exact end, which falls in the fade
    EXPECT_FALSE(main().isOrderedIn());
    AppIconHelper::setRoot(previousRoot);
}
