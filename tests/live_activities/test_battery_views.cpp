// The charging, low-battery and power-disconnect activities: what they show for a record, their
// inner animations on virtual time, and how they look at a simulated notch.

#include "live_activities/activity_view_fixture.h"
#include "live_activities/charging_activity_view.h"
#include "live_activities/live_activity_container_view.h"
#include "live_activities/low_battery_activity_view.h"
#include "live_activities/power_disconnect_activity_view.h"

using platform::Animation;

namespace {

class BatteryViewTest : public testsupport::ActivityViewTest {};

constexpr double kAppearDelay = 0.2;  // the shell's wait before the entrance and the views' own steps

}  // namespace

// --- charging ----------------------------------------------------------------------------------

TEST_F(BatteryViewTest, ChargingIsOrangeBelowTwentyAndGreenFromTwenty) {
    EXPECT_EQ(ChargingActivityView::accentColor(19), QColor::fromRgbF(1.0f, 0.584f, 0.0f));
    EXPECT_EQ(ChargingActivityView::accentColor(0), ChargingActivityView::accentColor(19));
    EXPECT_EQ(ChargingActivityView::accentColor(20), QColor::fromRgbF(0.204f, 0.78f, 0.349f));
    EXPECT_EQ(ChargingActivityView::accentColor(100), ChargingActivityView::accentColor(20));
}

TEST_F(BatteryViewTest, ChargingShowsTheBusRecordFromTheStartAndFollowsItButNotNone) {
    ChargingActivityView view(nullptr, environment());
    EXPECT_EQ(view.viewModel().levelText, "0");
    EXPECT_EQ(view.viewModel().ringFrame, QRectF(14, 6, 20, 20));
    EXPECT_EQ(view.size(), QSize(276, 32));

    bus.batteryInfoSubject.send(BatteryInfo{60, true, true});
    view.show();
    EXPECT_EQ(view.viewModel().levelText, "60");
    bus.batteryInfoSubject.send(std::nullopt);
    EXPECT_EQ(view.viewModel().levelText, "60");
    bus.batteryInfoSubject.send(BatteryInfo{19, true, true});
    EXPECT_EQ(view.viewModel().levelText, "19");
    EXPECT_EQ(view.viewModel().accent, ChargingActivityView::accentColor(19));

    view.hide();
    bus.batteryInfoSubject.send(BatteryInfo{77, true, true});
    EXPECT_EQ(view.batteryInfo().level, 19);  // off screen it listens no more
}

TEST_F(BatteryViewTest, ChargingFillsTheRingToTheLevelAndPulsesTheBolt) {
    bus.batteryInfoSubject.send(BatteryInfo{85, true, true});
    ChargingActivityView view(nullptr, environment());
    view.show();
    scheduler().advance(kAppearDelay);
    EXPECT_EQ(view.pulseScale().value(), 0.6);
    EXPECT_EQ(view.ringProgress().value(), 0.0);

    // The level that counts is the one when the fill starts.
    bus.batteryInfoSubject.send(BatteryInfo{86, true, true});
    scheduler().advance(0.3);
    EXPECT_EQ(view.ringProgress().lastAnimation()->animation, Animation::easeInOut(1.0));
    EXPECT_DOUBLE_EQ(view.ringProgress().target(), 0.86);
    EXPECT_EQ(view.pulseScale().lastAnimation()->animation, Animation::spring(0.4, 0.5, 0));
    EXPECT_EQ(view.pulseScale().target(), 1.0);

    scheduler().advance(0.4);
    EXPECT_EQ(view.pulseScale().lastAnimation()->animation, Animation::easeInOut(0.6).repeatCount(3, true));
    EXPECT_EQ(view.pulseScale().target(), 1.3);
    scheduler().advance(1.0);
    EXPECT_NEAR(view.viewModel().ringProgress, 0.86, 1e-3);

    // A later record changes the number, not the ring.
    bus.batteryInfoSubject.send(BatteryInfo{90, true, true});
    EXPECT_EQ(view.viewModel().levelText, "90");
    EXPECT_NEAR(view.viewModel().ringProgress, 0.86, 1e-3);

    bus.liveActivityDismissSubject.send();
    EXPECT_EQ(view.ringProgress().lastAnimation()->animation, Animation::easeInOut(0.35));
    EXPECT_EQ(view.ringProgress().target(), 0.0);
    EXPECT_EQ(view.pulseScale().lastAnimation()->animation, Animation::easeInOut(0.25));
    EXPECT_EQ(view.pulseScale().target(), 0.8);
    scheduler().advance(0.25);
    EXPECT_EQ(view.pulseScale().value(), 1.0);
}

TEST_F(BatteryViewTest, ChargingStepsDieWithTheView) {
    auto view = std::make_unique<ChargingActivityView>(nullptr, environment());
    view->show();
    scheduler().advance(kAppearDelay + 0.1);
    view.reset();
    scheduler().advance(2.0);  // under the address sanitizer: no step may touch the dead view
}

// --- low battery -------------------------------------------------------------------------------

TEST_F(BatteryViewTest, LowBatteryShowsTheLevelInRedAndAnEmptyBatteryAtFiveAndBelow) {
    EXPECT_EQ(LowBatteryActivityView::symbolName(6), "battery.25percent");
    EXPECT_EQ(LowBatteryActivityView::symbolName(5), "battery.0percent");
    EXPECT_EQ(LowBatteryActivityView::symbolName(0), "battery.0percent");

    LowBatteryActivityView view(nullptr, environment());
    EXPECT_EQ(view.viewModel().levelText, "10%");
    EXPECT_EQ(view.viewModel().symbolName, "battery.25percent");
    bus.batteryInfoSubject.send(BatteryInfo{20, false, false});
    view.show();
    EXPECT_EQ(view.viewModel().levelText, "20%");
    bus.batteryInfoSubject.send(BatteryInfo{9, false, false});
    EXPECT_EQ(view.viewModel().levelText, "9%");
    bus.batteryInfoSubject.send(std::nullopt);
    EXPECT_EQ(view.viewModel().levelText, "9%");
}

TEST_F(BatteryViewTest, LowBatteryBlinks) {
    LowBatteryActivityView view(nullptr, environment());
    view.show();
    scheduler().advance(kAppearDelay);
    EXPECT_EQ(view.pulseOpacity().lastAnimation()->animation, Animation::easeInOut(0.6).repeatCount(4, true));
    EXPECT_EQ(view.pulseOpacity().target(), 0.4);
    scheduler().advance(0.6);
    EXPECT_NEAR(view.viewModel().iconOpacity, 0.4, 1e-3);  // the first pass ends faint
    scheduler().advance(0.6);
    EXPECT_NEAR(view.viewModel().iconOpacity, 1.0, 1e-3);  // and comes back
}

// --- power disconnect --------------------------------------------------------------------------

TEST_F(BatteryViewTest, PowerDisconnectPicksTheBatteryThatMatchesTheLevel) {
    EXPECT_EQ(PowerDisconnectActivityView::batteryIconName(std::nullopt), "battery.0percent");
    const std::pair<int, const char*> cases[] = {{0, "0"},   {9, "0"},   {10, "25"}, {37, "25"}, {38, "50"}, {62, "50"},
                                                 {63, "75"}, {87, "75"}, {88, "100"}, {-1, "100"}};  // -1: outside every row
    for (const auto& [level, percent] : cases)
        EXPECT_EQ(PowerDisconnectActivityView::batteryIconName(BatteryInfo{level, false, false}),
                  QStringLiteral("battery.%1percent").arg(percent))
            << level;
}

TEST_F(BatteryViewTest, PowerDisconnectWithoutARecordReadsZeroAndFollowsLaterRecords) {
    PowerDisconnectActivityView view(nullptr, environment());
    view.show();
    EXPECT_EQ(view.viewModel().level, 0);
    EXPECT_EQ(view.viewModel().batterySymbol, "battery.0percent");
    bus.batteryInfoSubject.send(BatteryInfo{64, false, false});
    EXPECT_EQ(view.viewModel().level, 64);
    EXPECT_EQ(view.viewModel().batterySymbol, "battery.75percent");
    bus.batteryInfoSubject.send(std::nullopt);
    EXPECT_EQ(view.viewModel().level, 64);
}

TEST_F(BatteryViewTest, PowerDisconnectBoltPopsSlidesAndFadesThenTheBatteryComesIn) {
    bus.batteryInfoSubject.send(BatteryInfo{50, false, false});
    PowerDisconnectActivityView view(nullptr, environment());
    view.show();
    scheduler().advance(kAppearDelay);
    const QRectF boltHome = view.viewModel().boltFrame;
    EXPECT_EQ(view.viewModel().iconScale, 0.5);

    scheduler().advance(0.3);  // phase 2
    EXPECT_EQ(view.iconScale().lastAnimation()->animation, Animation::spring(0.35, 0.6, 0));
    EXPECT_EQ(view.iconScale().target(), 1.0);
    scheduler().advance(0.5);  // phase 3
    EXPECT_EQ(view.boltOffset().lastAnimation()->animation, Animation::easeIn(0.4));
    EXPECT_EQ(view.boltOpacity().lastAnimation()->animation, Animation::easeIn(0.4));
    EXPECT_FALSE(view.viewModel().showBatteryIcon);
    scheduler().advance(0.299);
    EXPECT_FALSE(view.viewModel().showBatteryIcon);
    scheduler().advance(0.001);  // phase 4, 1.1 s after the entrance started
    ASSERT_TRUE(view.viewModel().showBatteryIcon);
    EXPECT_EQ(view.batteryIconOpacity().lastAnimation()->animation, Animation::easeOut(0.35));
    scheduler().advance(1.0);
    const auto model = view.viewModel();
    EXPECT_EQ(model.boltFrame, boltHome.translated(16, 0));  // moved right, still in the layout
    EXPECT_EQ(model.boltOpacity, 0.0);
    EXPECT_NEAR(model.batteryOpacity, 1.0, 1e-3);
    EXPECT_EQ(model.batterySymbol, "battery.50percent");

    bus.liveActivityDismissSubject.send();
    EXPECT_EQ(view.iconScale().lastAnimation()->animation, Animation::spring(0.35, 0.65, 0));
    EXPECT_EQ(view.iconScale().target(), 0.5);
}

TEST_F(BatteryViewTest, PowerDisconnectPhasesRunOnAfterAnEarlyExit) {
    PowerDisconnectActivityView view(nullptr, environment());
    view.show();
    scheduler().advance(kAppearDelay + 0.1);
    bus.liveActivityDismissSubject.send();
    scheduler().advance(2.0);
    EXPECT_TRUE(view.viewModel().showBatteryIcon);
}

// --- at the notch ------------------------------------------------------------------------------

TEST_F(BatteryViewTest, TheBatteryActivitiesAtTheSimulatedNotch) {
    bus.batteryInfoSubject.send(BatteryInfo{85, true, true});
    ChargingActivityView charging(nullptr, environment());
    charging.show();
    scheduler().advance(3.0);
    EXPECT_AT_THE_NOTCH(charging, "charging");

    bus.batteryInfoSubject.send(BatteryInfo{8, false, false});
    LowBatteryActivityView low(nullptr, environment());
    low.show();
    scheduler().advance(kAppearDelay + 1.2);  // the blink back at full after its second pass
    EXPECT_AT_THE_NOTCH(low, "low_battery");

    bus.batteryInfoSubject.send(BatteryInfo{64, false, false});
    PowerDisconnectActivityView disconnect(nullptr, environment());
    disconnect.show();
    scheduler().advance(kAppearDelay + 0.6);
    EXPECT_AT_THE_NOTCH(disconnect, "power_disconnect_bolt");
    scheduler().advance(2.0);
    EXPECT_AT_THE_NOTCH(disconnect, "power_disconnect");
}
