#include "live_activities/activity_view_fixture.h"
#include "live_activities/brightness_activity_views.h"
#include "live_activities/volume_activity_view.h"

using platform::Animation;

namespace {

class LevelViewTest : public testsupport::ActivityViewTest {};

}  // namespace

TEST(LevelIcons, VolumeFollowsTheLevelAndTheMuteStateAndTheSunGrowsWithTheLevel) {
    const std::pair<VolumeInfo, const char*> cases[] = {
        {{0.005f, false}, "speaker.slash.fill"}, {{0.01f, false}, "speaker.wave.1.fill"},
        {{0.329f, false}, "speaker.wave.1.fill"}, {{0.33f, false}, "speaker.wave.2.fill"},
        {{0.66f, false}, "speaker.wave.3.fill"},  {{1.0f, false}, "speaker.wave.3.fill"},
        {{0.8f, true}, "speaker.slash.fill"}};
    for (const auto& [info, name] : cases) EXPECT_EQ(VolumeActivityView::volumeIconName(info), name) << info.level;
    const std::pair<float, const char*> suns[] = {
        {0.005f, "sun.min"}, {0.01f, "sun.min.fill"}, {0.49f, "sun.min.fill"}, {0.5f, "sun.max.fill"}, {1.0f, "sun.max.fill"}};
    for (const auto& [level, name] : suns) EXPECT_EQ(DisplayBrightnessActivityView::brightnessIconName(level), name) << level;
}

TEST_F(LevelViewTest, VolumeViewStartsFromTheBusAndEasesToEachNewRecord) {
    bus.volumeInfoSubject.send(VolumeInfo{0.2f, false});
    VolumeActivityView view(nullptr, environment());
    EXPECT_EQ(view.viewModel().bar.level, 0.5);  // before it comes on screen
    view.show();
    EXPECT_FLOAT_EQ(view.viewModel().bar.level, 0.2);  // at once, not eased from 0.5
    EXPECT_EQ(view.viewModel().symbolName, "speaker.wave.1.fill");
    EXPECT_EQ(view.viewModel().barFrame, QRectF(237, 14, 30, 4));
    EXPECT_EQ(view.viewModel().bar.barColor, QColor(Qt::white));

    scheduler().advance(1.0);
    bus.volumeInfoSubject.send(VolumeInfo{0.8f, true});
    EXPECT_EQ(view.viewModel().symbolName, "speaker.slash.fill");  // the symbol switches at once
    EXPECT_EQ(view.barLevel().lastAnimation()->animation, Animation::easeInOut(0.3));
    EXPECT_EQ(view.barLevel().target(), 0.0);  // muted: only the track
    scheduler().advance(0.3);
    EXPECT_NEAR(view.viewModel().bar.level, 0.0, 1e-6);

    bus.volumeInfoSubject.send(VolumeInfo{0.8f, false});
    scheduler().advance(0.15);
    EXPECT_GT(view.viewModel().bar.level, 0.1);
    EXPECT_LT(view.viewModel().bar.level, 0.7);
    scheduler().advance(0.15);
    EXPECT_NEAR(view.viewModel().bar.level, 0.8, 1e-6);

    bus.volumeInfoSubject.send(std::nullopt);  // leaves the record alone
    EXPECT_EQ(view.volumeInfo(), (VolumeInfo{0.8f, false}));

    view.hide();
    bus.volumeInfoSubject.send(VolumeInfo{0.1f, false});
    EXPECT_EQ(view.volumeInfo(), (VolumeInfo{0.8f, false}));
}

TEST_F(LevelViewTest, BrightnessViewsFollowTheirOwnSubject) {
    bus.displayBrightnessSubject.send(BrightnessInfo{0.8f});
    DisplayBrightnessActivityView display(nullptr, environment());
    KeyboardBrightnessActivityView keyboard(nullptr, environment());
    display.show();
    keyboard.show();
    EXPECT_FLOAT_EQ(display.viewModel().bar.level, 0.8);
    EXPECT_EQ(keyboard.viewModel().bar.level, 0.5);  // its subject holds nothing yet
    EXPECT_EQ(display.viewModel().bar.barColor, DisplayBrightnessActivityView::yellow());
    EXPECT_EQ(display.viewModel().symbolColor, DisplayBrightnessActivityView::yellow());
    EXPECT_EQ(keyboard.viewModel().bar.barColor, QColor(Qt::white));

    bus.keyboardBrightnessSubject.send(BrightnessInfo{0.0f});
    scheduler().advance(0.3);
    EXPECT_EQ(keyboard.viewModel().symbolName, "light.max");
    EXPECT_EQ(keyboard.viewModel().bar.level, 0.0);
    EXPECT_FLOAT_EQ(display.viewModel().bar.level, 0.8);

    bus.displayBrightnessSubject.send(BrightnessInfo{0.005f});
    EXPECT_EQ(display.viewModel().symbolName, "sun.min");
    bus.displayBrightnessSubject.send(std::nullopt);
    EXPECT_EQ(display.brightnessInfo().level, 0.005f);
}

TEST_F(LevelViewTest, TheActivitiesAtTheSimulatedNotch) {
    bus.volumeInfoSubject.send(VolumeInfo{0.6f, false});
    VolumeActivityView volume(nullptr, environment());
    volume.show();
    scheduler().advance(2.0);
    EXPECT_AT_THE_NOTCH(volume, "volume");

    bus.volumeInfoSubject.send(VolumeInfo{0.6f, true});
    scheduler().advance(1.0);
    EXPECT_AT_THE_NOTCH(volume, "volume_muted");

    bus.displayBrightnessSubject.send(BrightnessInfo{0.75f});
    DisplayBrightnessActivityView display(nullptr, environment());
    display.show();
    scheduler().advance(2.0);
    EXPECT_AT_THE_NOTCH(display, "display_brightness");

    bus.keyboardBrightnessSubject.send(BrightnessInfo{1.0f});
    KeyboardBrightnessActivityView keyboard(nullptr, environment());
    keyboard.show();
    scheduler().advance(2.0);
    EXPECT_AT_THE_NOTCH(keyboard, "keyboard_brightness");
}
