#include "notch/expanded_notch_view.h"
#include "notch_view_fixture.h"

#include <memory>
#include <vector>

using notchtest::NotchViewTest;

class ExpandedNotchViewTest : public NotchViewTest {
protected:
    ExpandedNotchViewTest() {
        completions = bus.expandedDismissCompleteSubject.sink([this] { completedAt.push_back(scheduler.elapsed()); });
    }
    std::unique_ptr<ExpandedNotchView> makeView(bool show = true) {
        auto view = std::make_unique<ExpandedNotchView>(nullptr, services());
        view->resize(620, 175);
        if (show) view->show();
        return view;
    }
    void useNotch(double inset, double notchWidth) {
        const double side = (1512 - notchWidth) / 2;
        screens.screenList = {testsupport::notchedScreen(0, 0, 1512, 982, inset, side, side)};
    }

    std::vector<double> completedAt;
    platform::AnyCancellable completions;
};

TEST_F(ExpandedNotchViewTest, SurfaceGrowsFromTheNotchBandToTheFullPlayer) {
    auto view = makeView(false);
    // No notch: from 200 x 32 to 620 x 175, halfway 410 x 103.5.
    EXPECT_EQ(view->surfaceSize(0), QSizeF(200, 32));
    EXPECT_EQ(view->surfaceSize(1), QSizeF(620, 175));
    EXPECT_EQ(view->surfaceSize(0.5), QSizeF(410, 103.5));

    useNotch(32, 185);
    EXPECT_EQ(view->surfaceSize(0), QSizeF(185, 32));
    EXPECT_EQ(view->surfaceSize(1), QSizeF(620, 175));
    useNotch(24, 150);
    EXPECT_EQ(view->surfaceSize(0), QSizeF(180, 32));  // at least 180 wide and 32 high
    useNotch(38, 200);
    EXPECT_EQ(view->surfaceSize(1), QSizeF(620, 181));
    EXPECT_EQ(view->sizeHint(), QSize(620, 181));

    // No screen in the list: the main screen; none at all: the notch-less band.
    screens.screenList.clear();
    EXPECT_EQ(view->baseSize(), QSizeF(200, 32));
}

TEST_F(ExpandedNotchViewTest, OpeningSpringsTheSurfaceAndFadesThePlayerInLate) {
    useNotch(38, 200);
    auto view = makeView();
    ExpandedNotchModel model = view->model();
    EXPECT_EQ(model.expandProgress, 0);
    EXPECT_EQ(model.surface, QRectF(210, 0, 200, 38));
    EXPECT_EQ(view->expandProgress().lastAnimation()->animation, platform::Animation::spring(0.5, 0.78, 0));
    EXPECT_EQ(view->contentOpacity().lastAnimation()->animation, platform::Animation::easeOut(0.25).delay(0.15));

    scheduler.advance(0.15);
    EXPECT_EQ(view->contentOpacity().value(), 0);
    EXPECT_EQ(view->player()->contentOpacity(), 0);
    // The spring overshoots slightly before it settles.
    double peak = 0;
    for (int i = 0; i < 60; ++i) {
        scheduler.advance(1.0 / 60);
        peak = std::max(peak, view->expandProgress().value());
    }
    EXPECT_GT(peak, 1.0);
    EXPECT_LT(peak, 1.1);
    EXPECT_EQ(view->player()->contentOpacity(), 1);
    scheduler.advance(2);
    model = view->model();
    EXPECT_NEAR(model.currentSize.width(), 620, 0.01);
    EXPECT_NEAR(model.currentSize.height(), 181, 0.01);
    // The player sits below the 38-point band, as wide as the surface.
    EXPECT_EQ(view->player()->geometry(), QRect(0, 38, 620, 143));
    EXPECT_EQ(view->player()->layout().mainColumn.width(), 189);
}

TEST_F(ExpandedNotchViewTest, DismissShrinksAndTheAnswerComesAfterTheFixedDelayEvenWithoutTheView) {
    auto view = makeView();
    scheduler.advance(1);
    bus.expandedDismissSubject.send();
    EXPECT_EQ(view->contentOpacity().lastAnimation()->animation, platform::Animation::easeIn(0.15));
    EXPECT_EQ(view->expandProgress().target(), 0);
    EXPECT_EQ(view->expandProgress().lastAnimation()->animation, platform::Animation::spring(0.5, 0.78, 0));
    view.reset();  // removed during the wait
    scheduler.advance(0.549);
    EXPECT_TRUE(completedAt.empty());
    scheduler.advance(0.001);
    ASSERT_EQ(completedAt.size(), 1u);
    EXPECT_NEAR(completedAt[0], 1.55, 1e-6);
}

TEST_F(ExpandedNotchViewTest, EachRequestGetsOneAnswerAndAWaiterOnlyItsOwn) {
    // Two views alive (the shown one and a hidden copy): still one answer per request.
    auto shown = makeView();
    auto copy = makeView(false);
    scheduler.advance(0.1);  // a request during the opening retargets from where it stands
    const double progress = shown->expandProgress().value();
    bus.expandedDismissSubject.send();
    EXPECT_EQ(shown->expandProgress().lastAnimation()->from, progress);
    scheduler.advance(0.2);
    bus.expandedDismissSubject.send();
    scheduler.advance(1);
    EXPECT_EQ(completedAt.size(), 2u);
    EXPECT_NEAR(completedAt[0], 0.65, 1e-6);
    EXPECT_NEAR(completedAt[1], 0.85, 1e-6);
    EXPECT_EQ(handshake.requestCount(), 2u);
    EXPECT_EQ(handshake.answerCount(), 2u);

    // An abandoned wait's late answer does not end the next wait.
    completedAt.clear();
    const double start = scheduler.elapsed();
    std::vector<double> firstDone, secondDone;
    auto first = handshake.requestDismiss([&] { firstDone.push_back(scheduler.elapsed() - start); });
    scheduler.advance(0.3);
    first.cancel();
    auto second = handshake.requestDismiss([&] { secondDone.push_back(scheduler.elapsed() - start); });
    scheduler.advance(0.3);
    EXPECT_EQ(completedAt.size(), 1u);  // the first request's answer is on the bus...
    EXPECT_TRUE(secondDone.empty());    // ...but it is not the second one's
    scheduler.advance(0.3);
    ASSERT_EQ(secondDone.size(), 1u);
    EXPECT_NEAR(secondDone[0], 0.85, 1e-6);
    EXPECT_TRUE(firstDone.empty());
}
