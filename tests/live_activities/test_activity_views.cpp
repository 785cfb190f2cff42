#include "core/app_settings.h"
#include "core/event_bus.h"
#include "live_activities/activity_band.h"
#include "live_activities/activity_view_fixture.h"
#include "live_activities/brightness_activity_views.h"
#include "live_activities/bluetooth_activity_view.h"
#include "live_activities/input_source_activity_view.h"
#include "live_activities/level_bar.h"
#include "live_activities/low_battery_activity_view.h"
#include "live_activities/live_activity_animated_shell.h"
#include "live_activities/live_activity_container_view.h"
#include "live_activities/screen_lock_activity_view.h"
#include "live_activities/symbol_check_activity_view.h"
#include "live_activities/volume_activity_view.h"

#include <QImage>
#include <QPainter>

#include <memory>

using platform::Animation;

// --- level bar ---------------------------------------------------------------------------------

TEST(LevelBar, SmallLevelsDrawNothingThenAtLeastACapsuleAndNeverPastTheTrack) {
    auto fill = [](double level) { return LevelBar{level, Qt::white, 30, 4}.fillRect(); };
    EXPECT_FALSE(fill(0.01));  // 0.3 points: a sliver is left out
    EXPECT_FALSE(fill(0.0));
    EXPECT_FALSE(fill(-2.0));
    ASSERT_TRUE(fill(0.05));
    EXPECT_EQ(*fill(0.05), QRectF(0, 0, 4, 4));  // 1.5 points drawn as wide as the bar is high
    EXPECT_EQ(*fill(0.5), QRectF(0, 0, 15, 4));
    EXPECT_EQ(*fill(1.0), QRectF(0, 0, 30, 4));
    EXPECT_EQ(*fill(7.0), QRectF(0, 0, 30, 4));
    EXPECT_EQ((LevelBar{0.5, Qt::white, 30, 4}.trackRect()), QRectF(0, 0, 30, 4));
}

TEST(LevelBar, PaintsTheFillFromTheLeftOverAFaintTrack) {
    QImage image(40, 4, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        LevelBar{0.5, Qt::red, 30, 4}.paint(painter, QPointF(0, 0));
    }
    EXPECT_GT(qRed(image.pixel(8, 2)), 200);  // inside the fill
    EXPECT_LT(qRed(image.pixel(25, 2)), 100);  // the track beyond it is faint white
    EXPECT_GT(qGreen(image.pixel(25, 2)), 30);
    EXPECT_EQ(image.pixel(35, 2), qRgb(0, 0, 0));  // past the bar
}

// --- the band ----------------------------------------------------------------------------------

TEST(ActivityBand, CellsSitInOneRowAroundTheNotchGap) {
    const ActivityBand band;
    EXPECT_EQ(band.size(), QSizeF(276, 32));
    EXPECT_EQ(band.leftCell(), QRectF(0, 0, 48, 32));
    EXPECT_EQ(band.notchGap(), QRectF(48, 0, 180, 32));
    EXPECT_EQ(band.rightCell(), QRectF(228, 0, 48, 32));
    EXPECT_EQ(band.topLine(), QRectF(6, 0, 264, 1));
}

namespace {

class ActivityViewTest : public testsupport::ActivityViewTest {};

}  // namespace

// Views read the setting at every layout pass.
TEST_F(ActivityViewTest, CornerRadiusFollowsTheSettingAtEveryRead) {
    ScreenLockActivityView view(false, nullptr, environment());
    EXPECT_EQ(view.cornerRadius(), 16);
    for (const auto& [stored, radius] : std::vector<std::pair<double, double>>{{0, 16}, {-3, 16}, {4, 8}, {40, 24}, {12, 12}}) {
        defaults().set(AppSettings::dynamicIslandCornerRadiusKey, stored);
        EXPECT_EQ(view.cornerRadius(), radius) << stored;
    }
    EXPECT_EQ(view.notchInfo().width, 200);
    EXPECT_TRUE(view.notchInfo().hasSafeArea);
}

TEST_F(ActivityViewTest, EverySymbolPopsInWithTheEntranceAndShrinksOnDismiss) {
    ScreenLockActivityView lock(false, nullptr, environment());
    testsupport::expectSymbolPopsInAndOut(lock, bus, scheduler());
    LowBatteryActivityView low(nullptr, environment());
    testsupport::expectSymbolPopsInAndOut(low, bus, scheduler());
    KeyboardBrightnessActivityView keyboard(nullptr, environment());
    testsupport::expectSymbolPopsInAndOut(keyboard, bus, scheduler());
    InputSourceActivityView input(nullptr, environment());
    testsupport::expectSymbolPopsInAndOut(input, bus, scheduler());
    ScreenshotActivityView screenshot(nullptr, environment());
    testsupport::expectSymbolPopsInAndOut(screenshot, bus, scheduler());
    BluetoothActivityView bluetooth(nullptr, environment());
    testsupport::expectSymbolPopsInAndOut(bluetooth, bus, scheduler());
}

namespace {

struct ShellProbe {
    int appeared = 0;
    int dismissed = 0;
};

std::unique_ptr<LiveActivityAnimatedShell> makeShell(const platform::PassthroughSubject<>& subject, ShellProbe& probe,
                                                     platform::Scheduler& scheduler, bool isReady = true,
                                                     bool startHasAppeared = false, double opacity = 0.0,
                                                     double scale = 0.65) {
    return std::make_unique<LiveActivityAnimatedShell>(
        isReady, subject, opacity, scale, startHasAppeared, [&probe] { ++probe.appeared; }, [&probe] { ++probe.dismissed; },
        scheduler);
}

}  // namespace

// --- the shell ---------------------------------------------------------------------------------

TEST_F(ActivityViewTest, ShellWaitsThenFadesInAndGrowsFromTheTop) {
    ShellProbe probe;
    auto shell = makeShell(bus.liveActivityDismissSubject, probe, scheduler());
    shell->appear();
    EXPECT_EQ(shell->outerOpacity(), 0.0);
    EXPECT_EQ(shell->outerScale(), 0.65);
    scheduler().advance(0.199);
    EXPECT_EQ(shell->outerOpacity(), 0.0);
    EXPECT_EQ(probe.appeared, 0);
    scheduler().advance(0.001);
    EXPECT_EQ(probe.appeared, 1);
    EXPECT_EQ(shell->animatedOpacity().lastAnimation()->animation, Animation::spring(0.2, 0.7, 0));
    EXPECT_EQ(shell->animatedScale().lastAnimation()->animation, Animation::spring(0.4, 0.6, 0.1));
    scheduler().advance(0.3);
    EXPECT_GT(shell->outerScale(), 1.0);  // a slight overshoot
    scheduler().advance(2.0);
    EXPECT_NEAR(shell->outerOpacity(), 1.0, 1e-3);
    EXPECT_NEAR(shell->outerScale(), 1.0, 1e-3);

    // Anchored at the top centre: the top edge's centre stays, the bottom moves up.
    const QRectF bounds(0, 0, 276, 32);
    EXPECT_EQ(shell->transform(bounds).map(QPointF(138, 0)), QPointF(138, 0));
}

TEST_F(ActivityViewTest, ShellExitShrinksAndFadesAndEveryDismissCallsTheHook) {
    ShellProbe probe;
    auto shell = makeShell(bus.liveActivityDismissSubject, probe, scheduler());
    shell->appear();
    scheduler().advance(1.0);
    bus.liveActivityDismissSubject.send();
    EXPECT_EQ(probe.dismissed, 1);  // at once, before the springs finish
    EXPECT_EQ(shell->animatedScale().lastAnimation()->animation, Animation::spring(0.3, 0.75, 0));
    EXPECT_EQ(shell->animatedScale().target(), 0.65);
    EXPECT_EQ(shell->animatedOpacity().lastAnimation()->animation, Animation::spring(0.25, 0.85, 0));
    EXPECT_EQ(shell->animatedOpacity().target(), 0.0);
    bus.liveActivityDismissSubject.send();
    EXPECT_EQ(probe.dismissed, 2);
    EXPECT_TRUE(shell->hasAppeared());
    scheduler().advance(0.6);
    EXPECT_FALSE(shell->hasAppeared());

    shell->disappear();
    bus.liveActivityDismissSubject.send();
    EXPECT_EQ(probe.dismissed, 2);
}

TEST_F(ActivityViewTest, ShellNotReadyOrAlreadyAppearedPlaysNoEntrance) {
    ShellProbe notReady;
    auto a = makeShell(bus.liveActivityDismissSubject, notReady, scheduler(), false, false, 0.4, 0.8);
    a->appear();
    scheduler().advance(1.0);
    EXPECT_EQ(a->outerOpacity(), 0.4);
    EXPECT_EQ(a->outerScale(), 0.8);
    EXPECT_EQ(notReady.appeared, 0);

    ShellProbe appeared;
    auto b = makeShell(bus.liveActivityDismissSubject, appeared, scheduler(), true, true, 1.0, 1.0);
    b->appear();
    EXPECT_EQ(b->outerOpacity(), 1.0);
    scheduler().advance(1.0);
    EXPECT_EQ(appeared.appeared, 0);
    bus.liveActivityDismissSubject.send();  // the exit still runs
    EXPECT_EQ(appeared.dismissed, 1);
    EXPECT_EQ(b->animatedOpacity().target(), 0.0);
}

// Neither a dismiss during the appear delay nor the shell's end leaves the entrance to run.
TEST_F(ActivityViewTest, ADismissOrTheEndDuringTheAppearDelaySkipsTheEntrance) {
    ShellProbe probe;
    auto dismissed = makeShell(bus.liveActivityDismissSubject, probe, scheduler());
    auto ended = makeShell(bus.liveActivityDismissSubject, probe, scheduler());
    dismissed->appear();
    ended->appear();
    scheduler().advance(0.1);
    ended.reset();
    bus.liveActivityDismissSubject.send();
    scheduler().advance(2.0);
    EXPECT_EQ(probe.appeared, 0);
    EXPECT_EQ(dismissed->outerOpacity(), 0.0);
}

// --- the screen-lock view ----------------------------------------------------------------------

TEST_F(ActivityViewTest, LockViewShowsAClosedPadlockThatTheUnlockSwingsOpen) {
    ScreenLockActivityView view(false, nullptr, environment());
    auto model = view.viewModel();
    EXPECT_EQ(model.symbolName, "lock.fill");
    EXPECT_EQ(model.iconFrame, QRectF(13, 7, 22, 18));
    EXPECT_EQ(model.iconRotation, 0.0);
    EXPECT_EQ(view.size(), QSize(276, 32));
    ScreenLockActivityView unlockView(true, nullptr, environment());  // opens from the start
    EXPECT_EQ(unlockView.viewModel().symbolName, "lock.open.fill");
    EXPECT_EQ(unlockView.viewModel().iconFrame.x(), 15);
    EXPECT_FALSE(unlockView.showUnlockIcon());

    // The unlock opens the padlock with a swing, even when it comes twice.
    view.show();
    scheduler().advance(1.0);
    bus.liveActivityEventSubject.send(LiveActivityType::charging);
    bus.liveActivityEventSubject.send(std::nullopt);
    EXPECT_FALSE(view.showUnlockIcon());

    bus.liveActivityEventSubject.send(LiveActivityType::screenUnlock);
    EXPECT_TRUE(view.showUnlockIcon());
    model = view.viewModel();
    EXPECT_EQ(model.symbolName, "lock.open.fill");
    EXPECT_EQ(model.iconFrame, QRectF(15, 7, 22, 18));
    scheduler().advance(0.1);
    EXPECT_LT(view.viewModel().iconRotation, -3.0);  // swinging out
    EXPECT_EQ(view.iconRotation().lastAnimation()->animation, Animation::spring(0.3, 0.7, 0).delay(0.1));
    scheduler().advance(2.0);
    EXPECT_NEAR(view.viewModel().iconRotation, 0.0, 1e-3);

    bus.liveActivityEventSubject.send(LiveActivityType::screenUnlock);
    scheduler().advance(2.0);
    EXPECT_EQ(view.viewModel().symbolName, "lock.open.fill");
    EXPECT_NEAR(view.viewModel().iconRotation, 0.0, 1e-3);

    ScreenLockActivityView neverShown(false, nullptr, environment());
    ScreenLockActivityView gone(false, nullptr, environment());
    gone.show();
    gone.hide();
    bus.liveActivityEventSubject.send(LiveActivityType::screenUnlock);
    EXPECT_FALSE(neverShown.showUnlockIcon());
    EXPECT_FALSE(gone.showUnlockIcon());
}

// --- the container -----------------------------------------------------------------------------

TEST_F(ActivityViewTest, ContainerPicksTheViewOfEachType) {
    const std::pair<LiveActivityType, const char*> cases[] = {
        {LiveActivityType::charging, "ChargingActivityView"},
        {LiveActivityType::powerDisconnect, "PowerDisconnectActivityView"},
        {LiveActivityType::lowBattery, "LowBatteryActivityView"},
        {LiveActivityType::bluetooth, "BluetoothActivityView"},
        {LiveActivityType::volume, "VolumeActivityView"},
        {LiveActivityType::displayBrightness, "DisplayBrightnessActivityView"},
        {LiveActivityType::keyboardBrightness, "KeyboardBrightnessActivityView"},
        {LiveActivityType::screenLock, "ScreenLockActivityView"},
        {LiveActivityType::screenUnlock, "ScreenLockActivityView"},
        {LiveActivityType::screenshot, "ScreenshotActivityView"},
        {LiveActivityType::airdrop, "AirDropActivityView"},
        {LiveActivityType::inputSource, "InputSourceActivityView"}};
    for (const auto& [type, className] : cases) {
        LiveActivityContainerView container(type, nullptr, environment());
        ASSERT_NE(container.activityView(), nullptr);
        EXPECT_STREQ(container.activityView()->metaObject()->className(), className);
        if (auto* lock = qobject_cast<ScreenLockActivityView*>(container.activityView())) {
            EXPECT_EQ(lock->isUnlock(), type == LiveActivityType::screenUnlock);
        }
    }
}

// Under the address sanitizer: a view replaced mid-entrance must leave no step that touches it.
TEST_F(ActivityViewTest, ReplacingAnActivityMidEntranceStartsTheNewOneFromTheBeginning) {
    LiveActivityContainerView container(LiveActivityType::screenLock, nullptr, environment());
    container.show();
    scheduler().advance(0.1);
    bus.liveActivityDismissSubject.send();  // the old view's exit has its own 0.6 s step pending

    container.setActivityType(LiveActivityType::screenUnlock);
    auto* fresh = qobject_cast<ScreenLockActivityView*>(container.activityView());
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh->isVisible());
    EXPECT_EQ(fresh->shell().outerOpacity(), 0.0);
    EXPECT_EQ(fresh->shell().outerScale(), 0.65);
    scheduler().advance(2.0);
    EXPECT_NEAR(fresh->shell().outerOpacity(), 1.0, 1e-3);

    container.setActivityType(LiveActivityType::volume);
    scheduler().advance(2.0);
    EXPECT_NE(qobject_cast<VolumeActivityView*>(container.activityView()), nullptr);
    // Across the panel, it draws (and so takes input) on the centred band only.
    container.resize(620, 32);
    EXPECT_EQ(container.drawnOutline().boundingRect(), QRectF(172, 0, 276, 32));
}

TEST_F(ActivityViewTest, TheLockAndUnlockActivitiesAtTheSimulatedNotch) {
    ScreenLockActivityView view(false, nullptr, environment());
    view.show();
    scheduler().advance(2.0);
    EXPECT_AT_THE_NOTCH(view, "screen_lock");
    bus.liveActivityEventSubject.send(LiveActivityType::screenUnlock);
    scheduler().advance(0.08);
    EXPECT_AT_THE_NOTCH(view, "screen_unlock_swing");
    scheduler().advance(2.0);
    EXPECT_AT_THE_NOTCH(view, "screen_unlock");
}
