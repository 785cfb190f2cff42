#include "notch/expanded_dismiss_handshake.h"
#include "notch/notch_window_controller.h"
#include "platform/animation/animation.h"
#include "support/fake_screens.h"
#include "support/fixtures.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using platform::AnimationRecorder;

OverlayState overlay(bool visible) {
    return OverlayState{visible, IslandMode::expanded, visible ? 1 : 0, QDateTime(), std::nullopt, std::nullopt,
                        std::nullopt, std::nullopt};
}

// A 1440 x 900 screen: the panel's column is x 410 ... 1030.
class NotchWindowControllerTest : public testsupport::QuillvexTest {
protected:
    NotchWindowControllerTest() {
        screens.screenList = {testsupport::plainScreen(0, 0, 1440, 900)};
        dismissRequests = bus.expandedDismissSubject.sink([this] { ++dismissCount; });
        controller = std::make_unique<NotchWindowController>(NotchWindowController::ContentViewFactory(), bus,
                                                             &screens, scheduler());
        controller->windowDidLoad();
        scheduler().drain();
    }

    IslandPanel& panel() { return *controller->window(); }
    void setMode(const NotchMode& mode) {
        bus.notchModeSubject.send(mode);
        scheduler().drain();
    }
    bool shown() { return panel().isOrderedIn() && panel().alphaValue() == 1; }
    bool hiddenAndParked() {
        return !panel().isOrderedIn() && panel().alphaValue() == 0 && panel().frame() == QRectF(410, 898, 620, 2);
    }
    void hideRequest(std::function<void()> done) {
        bus.notchHideRequestSubject.send(std::optional<EventBus::Completion>(std::move(done)));
        scheduler().drain();
    }

    testsupport::FakeScreens screens;
    EventBus bus{scheduler()};
    int dismissCount = 0;
    platform::AnyCancellable dismissRequests;
    std::unique_ptr<NotchWindowController> controller;
};

}  // namespace

TEST_F(NotchWindowControllerTest, StartsAtTheNotchHiddenOneLevelBelowTheOverlay) {
    EXPECT_EQ(panel().frame(), QRectF(410, 868, 620, 32));
    EXPECT_FALSE(panel().isOrderedIn());
    EXPECT_EQ(panel().level(), IslandPanel::screenSaverLevel - 1);
    EXPECT_FALSE(panel().canBecomeKey());
}

TEST_F(NotchWindowControllerTest, MiniPlayerAndExpandedShowAtOnceAtTheirHeights) {
    AnimationRecorder recorder;
    setMode(NotchMode::miniPlayer);
    EXPECT_TRUE(shown());
    EXPECT_EQ(panel().frame(), QRectF(410, 868, 620, 32));
    setMode(NotchMode::expanded);
    EXPECT_EQ(panel().frame(), QRectF(410, 725, 620, 175));
    EXPECT_TRUE(recorder.entries().empty());
}

TEST_F(NotchWindowControllerTest, DropGrowsOutOfTheNotchWithOvershootAndFasterFromVisible) {
    AnimationRecorder recorder;
    setMode(NotchMode::drop);
    ASSERT_EQ(recorder.entries().size(), 1u);
    const auto& animation = recorder.entries()[0].animation;
    EXPECT_DOUBLE_EQ(animation.duration(), 0.85);
    EXPECT_EQ(animation.curve(), (platform::TimingCurve{0.05, 0.95, 0.2, 1.2}));
    ASSERT_TRUE(panel().frameAnimator().lastAnimation());
    EXPECT_EQ(panel().frameAnimator().lastAnimation()->from, QRectF(410, 868, 620, 32));
    EXPECT_TRUE(shown());

    double tallest = 0;
    for (int i = 0; i < 17; ++i) {
        scheduler().advance(0.05);
        tallest = std::max(tallest, panel().frame().height());
    }
    EXPECT_GT(tallest, 180.5);
    EXPECT_EQ(panel().frame(), QRectF(410, 720, 620, 180));

    setMode(NotchMode::miniPlayer);
    recorder.clear();
    setMode(NotchMode::glance);
    ASSERT_EQ(recorder.entries().size(), 1u);
    EXPECT_DOUBLE_EQ(recorder.entries()[0].animation.duration(), 0.7);
    scheduler().advance(0.7);
    EXPECT_EQ(panel().frame(), QRectF(410, 700, 620, 200));
}

TEST_F(NotchWindowControllerTest, LiveActivityGrowsOnItsOwnCurve) {
    AnimationRecorder recorder;
    setMode(NotchMode::liveActivity(LiveActivityType::volume));
    ASSERT_EQ(recorder.entries().size(), 1u);
    EXPECT_DOUBLE_EQ(recorder.entries()[0].animation.duration(), 0.55);
    EXPECT_EQ(recorder.entries()[0].animation.curve(), (platform::TimingCurve{0.05, 0.95, 0.2, 1.1}));
    setMode(NotchMode::liveActivity(LiveActivityType::charging));
    EXPECT_DOUBLE_EQ(recorder.entries().back().animation.duration(), 0.4);
    scheduler().advance(0.4);
    EXPECT_EQ(panel().frame(), QRectF(410, 868, 620, 32));
}

TEST_F(NotchWindowControllerTest, IdleShrinksIntoTheNotchThenParksThePanel) {
    setMode(NotchMode::drop);
    scheduler().advance(1);
    AnimationRecorder recorder;
    setMode(NotchMode::idle);
    ASSERT_EQ(recorder.entries().size(), 1u);
    EXPECT_DOUBLE_EQ(recorder.entries()[0].animation.duration(), 0.35);
    EXPECT_EQ(recorder.entries()[0].animation.curve(), (platform::TimingCurve{0.25, 0.1, 0.25, 1.0}));
    EXPECT_TRUE(controller->isShrinking());
    scheduler().advance(0.34);
    EXPECT_TRUE(panel().isOrderedIn());
    scheduler().advance(0.02);
    EXPECT_TRUE(hiddenAndParked());
    EXPECT_FALSE(controller->isShrinking());

    // Notification hides the same way; from hidden nothing happens.
    setMode(NotchMode::notification);
    EXPECT_TRUE(hiddenAndParked());
}

TEST_F(NotchWindowControllerTest, AModeThatShowsDuringAShrinkVoidsItAndStartsFromHidden) {
    setMode(NotchMode::drop);
    scheduler().advance(1);
    setMode(NotchMode::idle);
    scheduler().advance(0.1);
    AnimationRecorder recorder;
    setMode(NotchMode::switcher);
    ASSERT_EQ(recorder.entries().size(), 1u);
    EXPECT_DOUBLE_EQ(recorder.entries()[0].animation.duration(), 0.85);  // from hidden
    EXPECT_EQ(controller->shrinkGeneration(), 1u);
    scheduler().advance(1);
    EXPECT_TRUE(shown());
    EXPECT_EQ(panel().frame(), QRectF(410, 740, 620, 160));
}

TEST_F(NotchWindowControllerTest, HideRequestInExpandedWaitsForTheExpandedViewsAnswer) {
    setMode(NotchMode::expanded);
    int done = 0;
    hideRequest([&] { ++done; });
    EXPECT_EQ(dismissCount, 1);
    EXPECT_TRUE(controller->isShrinking());
    scheduler().advance(1);
    EXPECT_TRUE(shown()) << "the panel waits for the view";
    EXPECT_EQ(done, 0);

    bus.expandedDismissCompleteSubject.send();
    scheduler().drain();
    EXPECT_TRUE(hiddenAndParked());
    EXPECT_EQ(done, 1);
    EXPECT_FALSE(controller->isShrinking());

    // Hidden already: the completion runs at once.
    hideRequest([&] { ++done; });
    EXPECT_EQ(done, 2);
    EXPECT_EQ(dismissCount, 1);
}

TEST_F(NotchWindowControllerTest, AShowingModeBeforeTheAnswerDropsTheWait) {
    setMode(NotchMode::expanded);
    int done = 0;
    hideRequest([&] { ++done; });
    setMode(NotchMode::miniPlayer);
    EXPECT_FALSE(controller->isShrinking());
    bus.expandedDismissCompleteSubject.send();
    scheduler().drain();
    EXPECT_EQ(done, 0);
    EXPECT_TRUE(shown());
    EXPECT_EQ(panel().frame(), QRectF(410, 868, 620, 32));
}

TEST_F(NotchWindowControllerTest, TheOverlayComingOrGoingDoesNotCancelTheExpandedExit) {
    setMode(NotchMode::expanded);
    int done = 0;
    hideRequest([&] { ++done; });
    bus.overlayStateSubject.send(overlay(true));
    scheduler().drain();
    EXPECT_TRUE(controller->isShrinking());
    bus.overlayStateSubject.send(overlay(false));
    scheduler().drain();
    bus.expandedDismissCompleteSubject.send();
    scheduler().drain();
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(hiddenAndParked());

    // Without a shrink the overlay re-runs the mode's show as before.
    setMode(NotchMode::miniPlayer);
    panel().orderOut();
    bus.overlayStateSubject.send(overlay(true));
    scheduler().drain();
    EXPECT_TRUE(panel().isOrderedIn());
}

TEST_F(NotchWindowControllerTest, ExpandedHeightLeavesRoomForATallerNotchBand) {
    EXPECT_DOUBLE_EQ(controller->expandedHeight(), 175);
    screens.screenList = {testsupport::notchedScreen(0, 0, 1440, 900, 38, 600, 600)};
    EXPECT_DOUBLE_EQ(controller->expandedHeight(), 181);
    setMode(NotchMode::expanded);
    EXPECT_EQ(panel().frame(), QRectF(410, 719, 620, 181));
}

TEST_F(NotchWindowControllerTest, FollowsTheFirstScreenWithANotchAtTheNextPlacement) {
    screens.screenList = {testsupport::plainScreen(0, 0, 1440, 900),
                          testsupport::notchedScreen(1440, 0, 1512, 982, 32, 650, 650)};
    setMode(NotchMode::miniPlayer);
    EXPECT_EQ(panel().frame(), QRectF(1440 + 756 - 310, 950, 620, 32));
    screens.screenList.clear();
    screens.mainIndex.reset();
    setMode(NotchMode::expanded);  // no screen at all: nothing moves
    EXPECT_EQ(panel().frame(), QRectF(1440 + 756 - 310, 950, 620, 32));
}

// With the expanded view's handshake as the answer, a late answer to an abandoned request does not
// end a newer wait early: the panel stays until the answer to its own request.
TEST_F(NotchWindowControllerTest, TheAnswerToAnAbandonedRequestDoesNotHideThePanelEarly) {
    ExpandedDismissHandshake handshake(bus, scheduler());
    controller = std::make_unique<NotchWindowController>(
        NotchWindowController::ContentViewFactory(), bus, &screens, scheduler(),
        [&](std::function<void()> done) { return handshake.requestDismiss(std::move(done)); });
    scheduler().drain();
    setMode(NotchMode::expanded);
    int done = 0;
    hideRequest([&] { ++done; });
    scheduler().advance(0.1);
    setMode(NotchMode::miniPlayer);
    setMode(NotchMode::expanded);
    scheduler().advance(0.1);
    hideRequest([&] { ++done; });
    scheduler().advance(0.4);  // the first request's answer has gone out
    EXPECT_EQ(handshake.answerCount(), 1u);
    EXPECT_TRUE(shown());
    EXPECT_EQ(done, 0);
    scheduler().advance(0.2);
    EXPECT_TRUE(hiddenAndParked());
    EXPECT_EQ(done, 1);
}
