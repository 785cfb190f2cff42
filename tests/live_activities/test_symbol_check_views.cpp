#include "live_activities/activity_view_fixture.h"
#include "live_activities/symbol_check_activity_view.h"

using platform::Animation;

namespace {

class SymbolCheckViewTest : public testsupport::ActivityViewTest {};


}  // namespace

TEST_F(SymbolCheckViewTest, EachViewShowsItsSymbolsAndColours) {
    AirDropActivityView airdrop(nullptr, environment());
    auto model = airdrop.viewModel();
    EXPECT_EQ(model.leftSymbol, "airplayaudio");
    EXPECT_EQ(model.rightSymbol, "checkmark.circle.fill");
    EXPECT_EQ(model.leftColor, model.rightColor);
    EXPECT_GT(model.leftColor.blueF(), 0.9);
    EXPECT_EQ(model.leftFrame.center(), QPointF(24, 16));
    EXPECT_EQ(model.rightFrame.center(), QPointF(252, 16));
    EXPECT_EQ(model.iconScale, 0.5);
    EXPECT_EQ(model.rightOpacity, 0.0);
    EXPECT_EQ(airdrop.size(), QSize(276, 32));

    ScreenshotActivityView screenshot(nullptr, environment());
    model = screenshot.viewModel();
    EXPECT_EQ(model.leftSymbol, "camera.fill");
    EXPECT_EQ(model.leftColor, QColor(Qt::white));
    EXPECT_EQ(model.rightSymbol, "checkmark.circle.fill");
    EXPECT_GT(model.rightColor.greenF(), 0.7);
    EXPECT_LT(model.rightColor.redF(), 0.3);
}

TEST_F(SymbolCheckViewTest, TheSymbolPopsThenTheCheckMarkFadesInAfterItsDelay) {
    ScreenshotActivityView view(nullptr, environment());
    view.show();
    scheduler().advance(LiveActivityAnimatedShell::appearDelay);  // the shell's entrance starts the inner ones
    ASSERT_TRUE(view.flashOpacity().lastAnimation());
    EXPECT_EQ(view.flashOpacity().lastAnimation()->animation, Animation::easeIn(0.3).delay(0.2));
    EXPECT_EQ(view.flashOpacity().target(), 1.0);

    scheduler().advance(0.19);
    EXPECT_EQ(view.viewModel().rightOpacity, 0.0);  // the check mark waits for the pop
    EXPECT_GT(view.viewModel().iconScale, 0.6);
    scheduler().advance(0.16);
    const double midway = view.viewModel().rightOpacity;
    EXPECT_GT(midway, 0.0);
    EXPECT_LT(midway, 1.0);
    scheduler().advance(0.15);
    EXPECT_NEAR(view.viewModel().rightOpacity, 1.0, 1e-6);  // 0.5 s after the start

    bus.liveActivityDismissSubject.send();
    EXPECT_EQ(view.flashOpacity().lastAnimation()->animation, Animation::spring(0.35, 0.65, 0));
    EXPECT_EQ(view.flashOpacity().target(), 0.0);
}

TEST_F(SymbolCheckViewTest, AFurtherEventOfTheSameTypeReplaysNothing) {
    AirDropActivityView view(nullptr, environment());
    view.show();
    scheduler().advance(1.0);
    bus.liveActivityEventSubject.send(LiveActivityType::airdrop);
    scheduler().advance(0.05);
    EXPECT_NEAR(view.viewModel().rightOpacity, 1.0, 1e-6);
    EXPECT_NEAR(view.viewModel().iconScale, 1.0, 1e-3);

    // Shown again without an exit in between, the check mark fades in anew after the pop.
    view.hide();
    view.show();
    scheduler().advance(LiveActivityAnimatedShell::appearDelay + 0.1);
    EXPECT_EQ(view.viewModel().rightOpacity, 0.0);
    scheduler().advance(0.4);
    EXPECT_NEAR(view.viewModel().rightOpacity, 1.0, 1e-6);
}

TEST_F(SymbolCheckViewTest, TheScreenshotAndAirDropActivitiesAtTheSimulatedNotch) {
    ScreenshotActivityView screenshot(nullptr, environment());
    AirDropActivityView airdrop(nullptr, environment());
    screenshot.show();
    airdrop.show();
    scheduler().advance(LiveActivityAnimatedShell::appearDelay + 0.1);
    EXPECT_AT_THE_NOTCH(screenshot, "screenshot_popping");
    scheduler().advance(2.0);
    EXPECT_AT_THE_NOTCH(screenshot, "screenshot");
    EXPECT_AT_THE_NOTCH(airdrop, "airdrop");

}
