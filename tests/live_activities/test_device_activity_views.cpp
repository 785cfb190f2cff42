// The Bluetooth and input-source activities: what their cells show, how they follow the bus,
// and how they look at a simulated notch.

#include "core/app_settings.h"
#include "core/event_bus.h"
#include "live_activities/activity_view_fixture.h"
#include "live_activities/bluetooth_activity_view.h"
#include "live_activities/input_source_activity_view.h"
#include "platform/screens/screens.h"

namespace {

class DeviceActivityViewTest : public testsupport::ActivityViewTest {};

}  // namespace

TEST(DeviceActivitySymbols, EachDeviceKindAndInputSourceHasItsOwn) {
    const std::pair<BluetoothDeviceCategory, const char*> devices[] = {
        {BluetoothDeviceCategory::appleWatch, "applewatch"},      {BluetoothDeviceCategory::airpods, "airpodspro"},
        {BluetoothDeviceCategory::airpodsMax, "airpodsmax"},      {BluetoothDeviceCategory::headphones, "headphones"},
        {BluetoothDeviceCategory::speaker, "hifispeaker.fill"}, {BluetoothDeviceCategory::other, "dot.radiowaves.left.and.right"}};
    for (const auto& [category, symbol] : devices) EXPECT_EQ(BluetoothActivityView::symbolName(category), symbol) << symbol;

    const std::pair<const char*, QString> sources[] = {{"com.example.inputmethod.Japanese.Katakana", "\u30A2"},
                                                       {"Katakana.Japanese.Roman", "\u30A2"},
                                                       {"com.example.inputmethod.Japanese", "\u3042"},
                                                       {"com.example.inputmethod.Japanese.Roman", "abc"},
                                                       {"japanese", "abc"},  // case counts
                                                       {"", "abc"},
                                                       {"de(nodeadkeys)", "abc"}};
    for (const auto& [id, glyph] : sources) EXPECT_EQ(InputSourceActivityView::displayName(QString::fromUtf8(id)), glyph) << id;
}

TEST_F(DeviceActivityViewTest, BluetoothViewShowsTheBusDeviceFromTheStartThenItsLevel) {
    BluetoothActivityView view(nullptr, environment());
    EXPECT_EQ(view.deviceInfo().name, QStringLiteral("Device"));
    EXPECT_EQ(view.viewModel().symbolName, QStringLiteral("dot.radiowaves.left.and.right"));
    EXPECT_EQ(view.viewModel().levelText, QStringLiteral("--"));

    bus.bluetoothDeviceSubject.send(BluetoothDeviceInfo{QStringLiteral("Max"), BluetoothDeviceCategory::airpodsMax, std::nullopt});
    view.show();
    EXPECT_TRUE(log.contains(QStringLiteral(
        "BluetoothActivityView: notchInfo width=200.0, height=32.0, hasSafeArea=true, spacer notchWidth=180.0")));
    auto model = view.viewModel();
    EXPECT_EQ(model.symbolName, QStringLiteral("airpodsmax"));
    EXPECT_EQ(model.levelText, QStringLiteral("--"));
    EXPECT_EQ(model.levelOpacity, 0.35);
    EXPECT_EQ(model.percentOpacity, 0.25);

    // The symbol pops in with an upward bounce that settles.
    EXPECT_EQ(model.iconScale, 0.5);
    scheduler().advance(0.2 + 0.15);  // the shell's appear delay, then the bounce's peak
    EXPECT_LT(view.iconBounce().value(), -0.5);
    scheduler().advance(1.5);
    EXPECT_NEAR(view.iconScale().value(), 1.0, 1e-3);
    EXPECT_NEAR(view.iconBounce().value(), 0.0, 1e-3);

    EXPECT_EQ(view.viewModel().recordFade, 1.0);  // the record taken on appearance shows at once
    bus.bluetoothDeviceSubject.send(BluetoothDeviceInfo{QStringLiteral("Max"), BluetoothDeviceCategory::airpodsMax, 77});
    bus.bluetoothDeviceSubject.send(std::nullopt);  // dropped
    model = view.viewModel();
    EXPECT_EQ(model.levelText, QStringLiteral("77"));
    EXPECT_EQ(model.recordFade, 0.0);  // cross-fades from "--" over 0.3 s
    scheduler().advance(0.15);
    EXPECT_NEAR(view.viewModel().recordFade, 0.5, 0.05);
    scheduler().advance(0.15);
    EXPECT_NEAR(view.viewModel().recordFade, 1.0, 1e-3);
    model = view.viewModel();
    EXPECT_EQ(model.levelOpacity, 1.0);
    EXPECT_EQ(model.percentOpacity, 0.6);

    // The exit shrinks the symbol and dips it, then the bounce settles.
    bus.liveActivityDismissSubject.send();
    scheduler().advance(0.15);
    EXPECT_GT(view.iconBounce().value(), 0.3);
    scheduler().advance(1.0);
    EXPECT_NEAR(view.iconScale().value(), 0.5, 1e-3);
    EXPECT_NEAR(view.iconBounce().value(), 0.0, 1e-3);

    // Off screen it no longer follows the bus.
    view.hide();
    bus.bluetoothDeviceSubject.send(BluetoothDeviceInfo{QStringLiteral("Watch"), BluetoothDeviceCategory::appleWatch, 5});
    EXPECT_EQ(view.viewModel().symbolName, QStringLiteral("airpodsmax"));
}

TEST_F(DeviceActivityViewTest, InputSourceViewStartsFromTheBusAndFollowsIt) {
    InputSourceActivityView view(nullptr, environment());
    EXPECT_EQ(view.viewModel().glyph, QStringLiteral("abc"));
    bus.inputSourceSubject.send(InputSourceInfo{QStringLiteral("com.example.inputmethod.Japanese"), QStringLiteral("Hiragana")});
    view.show();
    EXPECT_EQ(view.viewModel().glyph, QStringLiteral("\u3042"));
    EXPECT_EQ(view.viewModel().symbolName, QStringLiteral("globe"));
    scheduler().advance(2.0);
    EXPECT_EQ(view.viewModel().glyphFade, 1.0);
    bus.inputSourceSubject.send(InputSourceInfo{QStringLiteral("Katakana"), QStringLiteral("Katakana")});
    EXPECT_EQ(view.viewModel().glyph, QStringLiteral("\u30A2"));
    EXPECT_EQ(view.viewModel().previousGlyph, QStringLiteral("\u3042"));
    scheduler().advance(0.1);
    EXPECT_NEAR(view.viewModel().glyphFade, 0.5, 0.05);
    scheduler().advance(0.1);
    EXPECT_NEAR(view.viewModel().glyphFade, 1.0, 1e-3);
}

TEST_F(DeviceActivityViewTest, TheBluetoothAndInputSourceActivitiesAtTheSimulatedNotch) {
    BluetoothActivityView bluetooth(nullptr, environment());
    bus.bluetoothDeviceSubject.send(BluetoothDeviceInfo{QStringLiteral("Max"), BluetoothDeviceCategory::airpodsMax, std::nullopt});
    bluetooth.show();
    scheduler().advance(2.0);
    EXPECT_AT_THE_NOTCH(bluetooth, "bluetooth_no_level");

    bus.bluetoothDeviceSubject.send(BluetoothDeviceInfo{QStringLiteral("Max"), BluetoothDeviceCategory::airpodsMax, 100});
    scheduler().advance(0.15);
    EXPECT_AT_THE_NOTCH(bluetooth, "bluetooth_level_fading_in");
    scheduler().advance(0.5);
    EXPECT_AT_THE_NOTCH(bluetooth, "bluetooth_level");

    InputSourceActivityView input(nullptr, environment());
    bus.inputSourceSubject.send(InputSourceInfo{QStringLiteral("com.example.inputmethod.Japanese"), QStringLiteral("Hiragana")});
    input.show();
    scheduler().advance(2.0);
    EXPECT_AT_THE_NOTCH(input, "input_source_kana");
    bus.inputSourceSubject.send(InputSourceInfo{QStringLiteral("us"), QStringLiteral("English (US)")});
    scheduler().advance(0.5);
    EXPECT_AT_THE_NOTCH(input, "input_source_abc");
}
