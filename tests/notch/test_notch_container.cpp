#include "music/audio_visualizer.h"
#include "notch/mini_player_view.h"
#include "notch/notch_container_view.h"
#include "support/fake_compositor.h"
#include "support/fixtures.h"
#include "support/golden_image.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <memory>
#include <vector>

namespace {

// A white card shows a transition's scale and fade.
class WhiteCard : public NotchPlaceholderView {
public:
    using NotchPlaceholderView::NotchPlaceholderView;
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::white); }
};

// A band that counts the reads of its outline.
struct Outlined : QWidget, NotchOutlinedView {
    using QWidget::QWidget;
    QPainterPath drawnOutline() const override {
        ++reads;
        QPainterPath path;
        path.addRect(10, 0, 100, 32);
        return path;
    }
    mutable int reads = 0;
};

// Plain named widgets stand in for every mode's view, so the test sees what was made and when.
class NotchContainerTest : public testsupport::QuillvexTest {
protected:
    NotchContainerTest() {
        const auto maker = [this](const char* name) {
            return [this, name](QWidget* parent) -> QWidget* {
                made.push_back(QString::fromLatin1(name));
                return new NotchPlaceholderView(QString::fromLatin1(name), parent);
            };
        };
        factory.liveActivity = [this](LiveActivityType type, QWidget* parent) -> QWidget* {
            made.push_back(NotchMode::liveActivity(type).description());
            return new WhiteCard(QStringLiteral("liveActivity"), parent);
        };
        factory.updateLiveActivity = [this](QWidget*, LiveActivityType type) { updatedTo.push_back(type); };
        factory.miniPlayer = maker("miniPlayer");
        factory.expanded = maker("expanded");
        factory.glance = maker("glance");
        factory.drop = maker("drop");
        factory.switcher = maker("switcher");
    }

    std::unique_ptr<NotchContainerView> makeContainer() {
        auto view = std::make_unique<NotchContainerView>(nullptr, bus, scheduler(), factory);
        view->resize(620, 200);
        return view;
    }
    // The container in a shown window of the panel's size, showing `band` as the mini player.
    std::unique_ptr<NotchContainerView> showBand(QWidget& host, QPointer<Outlined>& band) {
        factory.miniPlayer = [&band](QWidget* parent) -> QWidget* { return band = new Outlined(parent); };
        host.resize(620, 200);
        auto view = makeContainer();
        view->setParent(&host);
        host.show();
        send(NotchMode::miniPlayer);
        return view;
    }
    void send(const NotchMode& mode) { bus.notchModeSubject.send(mode); }
    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    static QString shownName(const NotchContainerView& view) {
        auto* placeholder = qobject_cast<NotchPlaceholderView*>(view.contentView());
        return placeholder ? placeholder->name() : QString();
    }

    EventBus bus{scheduler()};
    NotchContentFactory factory;
    QStringList made;
    std::vector<LiveActivityType> updatedTo;
};

}  // namespace

TEST_F(NotchContainerTest, OnlyARepaintOfTheWholeBandOrANewSizeReadsItsOutlineAgain) {
    factory.expanded = [&](QWidget* parent) -> QWidget* { return new Outlined(parent); };
    QWidget host;
    QPointer<Outlined> band;
    auto view = showBand(host, band);
    ASSERT_TRUE(band);
    const auto paint = [&](const QRect& area) {
        QPaintEvent event(area);
        QCoreApplication::sendEvent(band, &event);
        return band->reads;
    };
    const int reads = band->reads;
    EXPECT_EQ(paint(QRect(80, 6, 22, 20)), reads);  // a frame of the level bars
    EXPECT_EQ(paint(band->rect()), reads + 1);
    band->resize(band->width(), 40);
    EXPECT_EQ(band->reads, reads + 2);
    EXPECT_EQ(view->inputRegion(), QRegion(10, 0, 100, 32));
    EXPECT_EQ(view->drawnRegion(), QRegion(10, 0, 100, 32));

    // An open surface draws its outline but takes input all over, as it always has.
    send(NotchMode::expanded);
    EXPECT_EQ(view->inputRegion(), QRegion(0, 0, 620, 200));
    EXPECT_EQ(view->drawnRegion(), QRegion(10, 0, 100, 32));
}

// Without a compositor, where the band takes input and where it draws come from one read of its
// outline: a moving band computes it from the clock at each read, and of two reads a moment apart
// the later may draw less than the first takes, which sets an input-only window over the band.
TEST_F(NotchContainerTest, WithoutACompositorOneReadOfTheBandsOutlineShapesBothItsInputAndItsDrawing) {
    const testsupport::FakeCompositor noCompositor(false);
    QWidget host;
    QPointer<Outlined> band;
    auto view = showBand(host, band);
    ASSERT_TRUE(band);
    const int reads = band->reads;
    QPaintEvent event(band->rect());
    QCoreApplication::sendEvent(band, &event);
    EXPECT_EQ(band->reads, reads + 1);
}

// The open surfaces of fixed size sit centred in the panel and take input only where they are: a
// click beside one, still inside the panel, reaches the window below.
TEST_F(NotchContainerTest, AFixedSizeSurfaceTakesInputOnlyWhereItIsCentred) {
    struct Surface {
        NotchMode mode;
        NotchContentFactory::Maker* maker;
        QSize size;
    };
    for (const Surface& surface : {Surface{NotchMode::glance, &factory.glance, QSize(380, 200)},
                                   Surface{NotchMode::drop, &factory.drop, QSize(340, 180)},
                                   Surface{NotchMode::switcher, &factory.switcher, QSize(400, 160)}}) {
        SCOPED_TRACE(surface.mode.description().toStdString());
        const QSize size = surface.size;
        *surface.maker = [size](QWidget* parent) -> QWidget* {
            auto* view = new NotchPlaceholderView(QStringLiteral("surface"), parent);
            view->setFixedSize(size);
            return view;
        };
        auto view = makeContainer();
        view->resize(620, size.height());  // the panel is as high as the surface
        view->show();
        send(surface.mode);
        scheduler().advance(2.0);
        const QRect child((620 - size.width()) / 2, 0, size.width(), size.height());
        EXPECT_EQ(view->contentView()->geometry(), child);
        const QRegion input = view->inputRegion();
        EXPECT_EQ(input, QRegion(child));
        const int middle = size.height() / 2;
        EXPECT_TRUE(input.contains(QPoint(310, middle)));
        EXPECT_FALSE(input.contains(QPoint(child.left() - 1, middle)));
        EXPECT_FALSE(input.contains(QPoint(child.right() + 1, middle)));
        EXPECT_FALSE(input.contains(QPoint(5, 5)));
        send(NotchMode::notification);
    }
}

// Without a compositor the panel is shaped to this: every child shown or still leaving, as its
// transition scales it about its centre, and nothing once all is gone.
TEST_F(NotchContainerTest, TheDrawnRegionHoldsEveryChildShownOrLeavingAsItsTransitionDrawsIt) {
    auto view = makeContainer();
    view->show();
    const QRect all(0, 0, 620, 200);
    send(NotchMode::glance);
    EXPECT_TRUE(view->drawnRegion().isEmpty());  // it enters from nothing
    scheduler().advance(0.05);
    QRect drawn = view->drawnRegion().boundingRect();
    EXPECT_TRUE(all.contains(drawn) && drawn.width() < 600 && drawn.width() > 560) << drawn.width();
    EXPECT_NEAR(drawn.center().x(), 310, 1);
    EXPECT_NEAR(drawn.center().y(), 100, 1);
    scheduler().advance(2.0);
    EXPECT_EQ(view->drawnRegion(), QRegion(all));

    send(NotchMode::notification);
    EXPECT_TRUE(view->inputRegion().isEmpty());
    EXPECT_EQ(view->drawnRegion(), QRegion(all));  // it leaves as it came
    scheduler().advance(0.15);
    drawn = view->drawnRegion().boundingRect();
    EXPECT_TRUE(drawn.width() < 610 && drawn.width() > 560) << drawn.width();
    scheduler().advance(2.0);
    flushDeletes();
    EXPECT_TRUE(view->removingViews().empty());
    EXPECT_TRUE(view->drawnRegion().isEmpty());
}

TEST(NotchContainerState, LastVisibleModeFollowsContentModesAndIsClearedByLiveActivities) {
    NotchContainerState state(NotchMode::idle);
    EXPECT_FALSE(state.receive(NotchMode::idle));
    state.receive(NotchMode::glance);
    state.receive(NotchMode::notification);
    EXPECT_EQ(state.content(), NotchContent::none);
    state.receive(NotchMode::idle);
    EXPECT_EQ(state.lastVisibleMode, NotchMode::glance);
    EXPECT_EQ(state.content(), NotchContent::glance);

    state.receive(NotchMode::liveActivity(LiveActivityType::volume));
    EXPECT_EQ(state.content(), NotchContent::liveActivity);
    state.receive(NotchMode::idle);
    EXPECT_EQ(state.content(), NotchContent::none);

    for (const auto& mode : {NotchMode::expanded, NotchMode::drop, NotchMode::switcher}) {
        state.receive(mode);
        state.receive(NotchMode::idle);
        EXPECT_NE(state.content(), NotchContent::none) << mode.description().toStdString();
    }
    // The mini player has played its own exit: idle shows nothing after it.
    state.receive(NotchMode::miniPlayer);
    state.receive(NotchMode::idle);
    EXPECT_EQ(state.lastVisibleMode, NotchMode::miniPlayer);
    EXPECT_EQ(state.content(), NotchContent::none);

    EXPECT_EQ(NotchContainerState::transitionScale(NotchMode::liveActivity(LiveActivityType::charging)), 0.9);
    EXPECT_EQ(NotchContainerState::transitionScale(NotchMode::drop), 0.9);
    EXPECT_EQ(NotchContainerState::transitionScale(NotchMode::glance), 0.92);
    EXPECT_EQ(NotchContainerState::transitionScale(NotchMode::switcher), 0.92);
    EXPECT_FALSE(NotchContainerState::transitionScale(NotchMode::miniPlayer));
    EXPECT_FALSE(NotchContainerState::transitionScale(NotchMode::expanded));
    EXPECT_FALSE(NotchContainerState::transitionScale(NotchMode::idle));
}

TEST_F(NotchContainerTest, ShowsTheModeOnTheBusAtCreationAndOneChildPerMode) {
    send(NotchMode::drop);
    auto view = makeContainer();
    EXPECT_EQ(view->notchMode(), NotchMode::drop);
    EXPECT_EQ(view->lastVisibleMode(), NotchMode::idle);
    EXPECT_EQ(shownName(*view), QStringLiteral("drop"));

    send(NotchMode::notification);
    EXPECT_EQ(view->contentView(), nullptr);
    EXPECT_TRUE(view->inputRegion().isEmpty());  // nothing drawn takes no input
    send(NotchMode::miniPlayer);
    EXPECT_EQ(shownName(*view), QStringLiteral("miniPlayer"));
    EXPECT_EQ(view->contentView()->geometry(), QRect(0, 0, 620, 200));  // no size of its own
    EXPECT_EQ(view->inputRegion(), QRegion(0, 0, 620, 200));        // and no outline: all of it
    QWidget* mini = view->contentView();
    send(NotchMode::miniPlayer);  // the same mode again changes nothing
    EXPECT_EQ(view->contentView(), mini);
    EXPECT_EQ(made, QStringList({"drop", "miniPlayer"}));
}

TEST_F(NotchContainerTest, IdleKeepsTheLastContentAsAFreshView) {
    auto view = makeContainer();
    send(NotchMode::drop);
    QPointer<QWidget> dropZone = view->contentView();
    send(NotchMode::idle);
    EXPECT_EQ(shownName(*view), QStringLiteral("drop"));
    EXPECT_NE(view->contentView(), dropZone.data());  // the idle branch is its own view
    ASSERT_EQ(view->removingViews().size(), 1u);      // the old one scales away meanwhile
    EXPECT_EQ(view->removingViews()[0], dropZone.data());

    send(NotchMode::glance);
    send(NotchMode::notification);
    send(NotchMode::idle);
    EXPECT_EQ(shownName(*view), QStringLiteral("glance"));

    send(NotchMode::liveActivity(LiveActivityType::screenshot));
    send(NotchMode::idle);
    EXPECT_EQ(view->contentView(), nullptr);
    EXPECT_EQ(view->lastVisibleMode(), NotchMode::idle);
}

TEST_F(NotchContainerTest, IdentityTransitionsSwapAtOnce) {
    auto view = makeContainer();
    send(NotchMode::expanded);
    QPointer<QWidget> expanded = view->contentView();
    EXPECT_EQ(view->contentTransition(), nullptr);
    send(NotchMode::miniPlayer);
    EXPECT_TRUE(view->removingViews().empty());
    EXPECT_TRUE(expanded->isHidden());
    flushDeletes();
    EXPECT_TRUE(expanded.isNull());
    EXPECT_EQ(shownName(*view), QStringLiteral("miniPlayer"));
}

TEST_F(NotchContainerTest, InsertionsAndRemovalsFadeAndScaleOnTheSpring) {
    auto view = makeContainer();
    view->show();
    send(NotchMode::liveActivity(LiveActivityType::volume));
    const NotchTransitionEffect* entering = view->contentTransition();
    ASSERT_NE(entering, nullptr);
    EXPECT_DOUBLE_EQ(entering->scale(), 0.9);
    EXPECT_DOUBLE_EQ(entering->progress(), 0.0);
    scheduler().advance(0.1);
    EXPECT_GT(view->contentTransition()->progress(), 0.0);
    scheduler().advance(0.1);  // past half way: smaller still, and mostly opaque
    EXPECT_GOLDEN(QStringLiteral("container-entering"), *view, Qt::black);
    scheduler().advance(3.0);
    EXPECT_EQ(view->contentTransition(), nullptr);  // settled: the child draws on its own again

    QPointer<QWidget> activity = view->contentView();
    send(NotchMode::switcher);
    ASSERT_EQ(view->removingViews().size(), 1u);
    EXPECT_TRUE(activity->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_DOUBLE_EQ(view->contentTransition()->scale(), 0.92);
    scheduler().advance(0.1);
    const auto* leaving = qobject_cast<NotchTransitionEffect*>(activity->graphicsEffect());
    ASSERT_NE(leaving, nullptr);
    EXPECT_DOUBLE_EQ(leaving->scale(), 0.9);  // it leaves the way a live activity came
    EXPECT_LT(leaving->progress(), 1.0);
    EXPECT_GT(leaving->progress(), 0.0);
    scheduler().advance(3.0);
    EXPECT_TRUE(view->removingViews().empty());
    flushDeletes();
    EXPECT_TRUE(activity.isNull());
}

TEST_F(NotchContainerTest, AnotherActivityTypeIsHandedToTheSameView) {
    auto view = makeContainer();
    send(NotchMode::liveActivity(LiveActivityType::volume));
    QWidget* activity = view->contentView();
    send(NotchMode::liveActivity(LiveActivityType::displayBrightness));
    send(NotchMode::liveActivity(LiveActivityType::displayBrightness));
    EXPECT_EQ(view->contentView(), activity);
    EXPECT_TRUE(view->removingViews().empty());
    ASSERT_EQ(updatedTo.size(), 1u);
    EXPECT_EQ(updatedTo[0], LiveActivityType::displayBrightness);
    EXPECT_EQ(made, QStringList({"liveActivity(volume)"}));
}

TEST_F(NotchContainerTest, UninstalledViewsArePlaceholdersAndTheInsetPullsContentUp) {
    NotchContentFactory empty;
    NotchContainerView view(nullptr, bus, scheduler(), empty);
    view.resize(620, 200);
    view.setTopSafeAreaInset(32);
    send(NotchMode::expanded);
    EXPECT_EQ(shownName(view), QStringLiteral("expanded"));
    EXPECT_EQ(view.contentView()->geometry(), QRect(0, -32, 620, 200));
    send(NotchMode::liveActivity(LiveActivityType::charging));
    EXPECT_EQ(shownName(view), QStringLiteral("liveActivity"));
}

// The container shows the real mini player: it appears when shown in the panel and stops
// listening for the dismiss when the mode leaves it.
TEST_F(NotchContainerTest, TheMiniPlayerAppearsInsideTheShownContainerAndLeavesWithTheMode) {
    class NoMedia final : public MiniPlayerMedia {
    public:
        std::optional<NowPlayingInfo> nowPlaying() const override { return std::nullopt; }
        std::optional<QImage> lastArtwork() const override { return std::nullopt; }
        std::optional<QColor> artworkDominantColor() const override { return std::nullopt; }
        platform::AnyCancellable observe(std::function<void()>) override { return {}; }
    } media;
    AudioVisualizer visualizer(bus, scheduler());
    QPointer<MiniPlayerView> mini;
    factory.miniPlayer = [&](QWidget* parent) -> QWidget* {
        mini = new MiniPlayerView(parent, MiniPlayerEnvironment{&bus, &scheduler(), &defaults(), nullptr, &media, &visualizer});
        return mini;
    };
    auto view = makeContainer();
    view->show();
    send(NotchMode::miniPlayer);
    ASSERT_TRUE(mini);
    EXPECT_EQ(mini->geometry(), QRect(0, 0, 620, 32));
    EXPECT_TRUE(mini->model().isListeningForDismiss());
    scheduler().advance(2.0);
    EXPECT_EQ(mini->bandRect(), QRectF(172, 0, 276, 32));
    // Input only on the band: not beside it, nor outside its rounded bottom corners.
    const QRegion input = view->inputRegion();
    EXPECT_EQ(input.boundingRect(), QRect(172, 0, 276, 32));
    EXPECT_TRUE(input.contains(QPoint(310, 16)));
    EXPECT_FALSE(input.contains(QPoint(100, 16)));
    EXPECT_FALSE(input.contains(QPoint(179, 31)));

    send(NotchMode::idle);
    EXPECT_EQ(view->contentView(), nullptr);
    ASSERT_TRUE(mini);
    EXPECT_FALSE(mini->model().isListeningForDismiss());
    flushDeletes();
    EXPECT_TRUE(mini.isNull());
}
