#include "core/app_settings.h"
#include "music/audio_visualizer.h"
#include "notch/mini_player_view.h"
#include "notch/notch_state_manager.h"
#include "support/fake_screens.h"
#include "support/fixtures.h"
#include "support/golden_image.h"

#include <QImage>
#include <QPainter>

#include <cmath>
#include <limits>
#include <memory>

namespace {

class ScriptedMedia final : public MiniPlayerMedia {
public:
    std::optional<NowPlayingInfo> track;
    std::optional<QImage> last;
    std::optional<QColor> colour;

    std::optional<NowPlayingInfo> nowPlaying() const override { return track; }
    std::optional<QImage> lastArtwork() const override { return last; }
    std::optional<QColor> artworkDominantColor() const override { return colour; }
    platform::AnyCancellable observe(std::function<void()> changed) override { return changes.sink(std::move(changed)); }

    // A publication as the service makes it: the artwork is remembered, then the views are told.
    void publish(std::optional<NowPlayingInfo> info) {
        track = std::move(info);
        if (track && track->artwork) last = track->artwork;
        changes.send();
    }

private:
    platform::PassthroughSubject<> changes;
};

QImage artwork(int side, QColor fill = Qt::red) {
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(fill);
    return image;
}

NowPlayingInfo song(const QString& title, double rate = 1.0, std::optional<QImage> art = artwork(300)) {
    NowPlayingInfo info;
    info.title = title;
    info.artist = QStringLiteral("Band");
    info.playbackRate = rate;
    info.artwork = std::move(art);
    return info;
}

class MiniPlayerTest : public testsupport::QuillvexTest {
protected:
    MiniPlayerTest() { screens.screenList = {testsupport::notchedScreen(0, 0, 1512, 982, 32, 656, 656)}; }

    MiniPlayerEnvironment environment() {
        return MiniPlayerEnvironment{&bus, &scheduler(), &defaults(), &screens, &media, &visualizer};
    }
    void advanceTo(double t) { scheduler().advance(t - scheduler().elapsed()); }

    EventBus bus{scheduler()};
    testsupport::FakeScreens screens;
    ScriptedMedia media;
    AudioVisualizer visualizer{bus, scheduler()};
};

}  // namespace

TEST_F(MiniPlayerTest, AppearanceGrowsThePillsOutOfTheNotchThenFadesTheContentIn) {
    MiniPlayerViewModel model(environment());
    EXPECT_EQ(MiniPlayerViewModel::layout(1).size, QSizeF(276, 32));
    EXPECT_EQ(MiniPlayerViewModel::layout(0).size, QSizeF(180, 32));
    EXPECT_FALSE(model.isListeningForDismiss());

    model.appear();
    EXPECT_EQ(model.size(), QSizeF(180, 32));
    const auto reveal = model.pillRevealValue().lastAnimation();
    ASSERT_TRUE(reveal);
    EXPECT_EQ(reveal->animation, platform::Animation::spring(0.5, 0.72, 0).delay(0.08));
    EXPECT_EQ(model.contentOpacityValue().lastAnimation()->animation, platform::Animation::easeOut(0.3).delay(0.2));
    EXPECT_TRUE(model.isListeningForDismiss());
    advanceTo(0.2);
    EXPECT_GT(model.pillReveal(), 0.0);
    EXPECT_DOUBLE_EQ(model.contentOpacity(), 0.0);  // the fade waits 0.2 s
    advanceTo(2.0);
    EXPECT_NEAR(model.pillReveal(), 1.0, 1e-3);
    EXPECT_EQ(model.layout().size.toSize(), QSize(276, 32));
    EXPECT_DOUBLE_EQ(model.contentOpacity(), 1.0);
}

TEST_F(MiniPlayerTest, CornerRadiusCountsNonPositiveAndNonFiniteAsSixteenThenClamps) {
    MiniPlayerViewModel model(environment());
    EXPECT_DOUBLE_EQ(model.cornerRadius(), 16);  // never written
    const std::pair<double, double> cases[] = {{0, 16}, {-4, 16}, {5, 8}, {30, 24}, {20, 20}};
    for (const auto& [stored, expected] : cases) {
        defaults().set(AppSettings::dynamicIslandCornerRadiusKey, stored);
        EXPECT_DOUBLE_EQ(model.cornerRadius(), expected) << stored;
    }
    EXPECT_DOUBLE_EQ(MiniPlayerViewModel::cornerRadius(std::numeric_limits<double>::quiet_NaN()), 16);
    EXPECT_DOUBLE_EQ(MiniPlayerViewModel::cornerRadius(std::numeric_limits<double>::infinity()), 16);
}

TEST_F(MiniPlayerTest, ArtworkKeyAndTheArtworkShown) {
    MiniPlayerViewModel model(environment());
    EXPECT_EQ(model.artworkKey(), QStringLiteral("|||0.0x0.0"));
    model.appear();
    EXPECT_FALSE(model.displayedArtwork());  // the note symbol stands in

    media.publish(song(QStringLiteral("Song")));
    EXPECT_EQ(model.artworkKey(), QStringLiteral("Song|Band||300.0x300.0"));
    advanceTo(1.0);
    ASSERT_TRUE(model.displayedArtwork());
    EXPECT_EQ(model.displayedArtwork()->size(), QSize(300, 300));

    // A track without artwork keeps the last image.
    media.publish(song(QStringLiteral("Next"), 1.0, std::nullopt));
    advanceTo(2.0);
    ASSERT_TRUE(model.displayedArtwork());
    EXPECT_EQ(model.displayedArtworkKey(), QStringLiteral("Next|Band||0.0x0.0"));
}

TEST_F(MiniPlayerTest, TwoArtworkChangesWithinAFlipFlipOnceAndTakeTheLastAtOnce) {
    media.publish(song(QStringLiteral("One")));
    MiniPlayerViewModel model(environment());
    model.appear();
    advanceTo(1.0);

    media.publish(song(QStringLiteral("Two")));  // a title change alone flips too
    EXPECT_TRUE(model.isFlipping());
    EXPECT_EQ(model.flipCount(), 1);
    EXPECT_EQ(model.flipAngleValue().lastAnimation()->animation, platform::Animation::easeIn(0.12));
    advanceTo(1.1);
    media.publish(song(QStringLiteral("Three"), 1.0, artwork(200)));
    EXPECT_EQ(model.flipCount(), 1);
    EXPECT_EQ(model.displayedArtworkKey(), QStringLiteral("Three|Band||200.0x200.0"));
    advanceTo(1.12);
    EXPECT_NEAR(model.flipAngle(), 90, 1e-6);
    EXPECT_EQ(model.flipAngleValue().lastAnimation()->to, 180);
    advanceTo(1.24);
    EXPECT_FALSE(model.isFlipping());
    EXPECT_EQ(model.flipAngleValue().lastAnimation()->animation, platform::Animation::spring(0.25, 0.7, 0));
    advanceTo(3.0);
    EXPECT_NEAR(model.flipAngle(), 0, 1e-2);
    EXPECT_EQ(model.displayedArtwork()->size(), QSize(200, 200));

    // Once the flip is over the next change flips again; no track at all flips nothing.
    media.publish(song(QStringLiteral("Four")));
    EXPECT_EQ(model.flipCount(), 2);
    advanceTo(4.0);
    media.publish(std::nullopt);
    EXPECT_EQ(model.flipCount(), 2);
}

TEST_F(MiniPlayerTest, ColourModeAndAccent) {
    MiniPlayerViewModel model(environment());
    EXPECT_EQ(model.notchBackgroundColor(), QColor(Qt::black));
    EXPECT_EQ(model.accentColor(), QColor::fromRgbF(1, 1, 1, 0.9f));
    defaults().set(AppSettings::musicNotchColorModeKey, QStringLiteral("dynamic"));
    EXPECT_EQ(model.notchBackgroundColor(), QColor(Qt::black));  // no colour known
    media.colour = QColor(200, 40, 40);
    QColor expected(200, 40, 40);
    expected.setAlphaF(0.85f);
    EXPECT_EQ(model.notchBackgroundColor(), expected);
    EXPECT_EQ(model.accentColor(), QColor(200, 40, 40));
    defaults().set(AppSettings::musicNotchColorModeKey, QStringLiteral("Dynamic"));
    EXPECT_EQ(model.notchBackgroundColor(), QColor(Qt::black));
}

// From frame to frame only the bars move, inside their own rectangle; the colour mode, read when
// drawing, shows at the next frame: the pills take the colour while the middle stays black.
TEST_F(MiniPlayerTest, FramesOfTheBarsChangeTheirRectangleOnlyAndDynamicColourFillsThePills) {
    media.colour = QColor(0, 0, 255);
    MiniPlayerView view(nullptr, environment());
    view.resize(276, 32);
    view.model().appear();
    advanceTo(2.0);
    const auto frame = [&] {
        QImage image(276, 32, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        view.paintContent(painter);
        return image;
    };
    const QImage before = frame();
    visualizer.barHeights.send({0.9, 0.2, 1.0, 0.3, 0.8, 0.5});
    advanceTo(2.2);
    const QImage after = frame();
    int changed = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 276; ++x) {
            if (before.pixel(x, y) == after.pixel(x, y)) continue;
            ++changed;
            EXPECT_TRUE(view.barsRect().contains(x, y)) << x << "," << y;
        }
    }
    EXPECT_GT(changed, 0);
    const auto paint = [&](QPainter& painter) { view.paintContent(painter); };
    EXPECT_GOLDEN(QStringLiteral("mini-player"), QSize(276, 32), paint);
    defaults().set(AppSettings::musicNotchColorModeKey, QStringLiteral("dynamic"));
    EXPECT_GOLDEN(QStringLiteral("mini-player-dynamic"), QSize(276, 32), paint);
}

// While the pills still spring out of the notch, the bars are drawn in theirs, moving with it.
TEST_F(MiniPlayerTest, WhileThePillsGrowTheBarsGrowWithThem) {
    MiniPlayerView view(nullptr, environment());
    view.resize(276, 32);
    visualizer.barHeights.send({0.9, 0.2, 1.0, 0.3, 0.8, 0.5});
    view.model().appear();
    advanceTo(0.6);
    ASSERT_NE(view.model().pillReveal(), 1.0);  // still springing (past 1 here)
    EXPECT_DOUBLE_EQ(view.model().contentOpacity(), 1.0);
    EXPECT_GOLDEN(QStringLiteral("mini-player-revealing"), QSize(276, 32),
                  [&](QPainter& painter) { view.paintContent(painter); });
}

TEST_F(MiniPlayerTest, DismissRetractsThePillsOnlyWhileShown) {
    MiniPlayerViewModel model(environment());
    bus.miniPlayerDismissSubject.send();  // no subscription yet
    EXPECT_DOUBLE_EQ(model.pillReveal(), 0.0);
    EXPECT_FALSE(model.pillRevealValue().lastAnimation());

    model.appear();
    advanceTo(2.0);
    bus.miniPlayerDismissSubject.send();
    EXPECT_EQ(model.contentOpacityValue().lastAnimation()->animation, platform::Animation::easeIn(0.12));
    EXPECT_EQ(model.pillRevealValue().lastAnimation()->animation, platform::Animation::spring(0.3, 0.85, 0).delay(0.05));
    advanceTo(3.0);
    EXPECT_NEAR(model.pillReveal(), 0.0, 1e-3);
    EXPECT_DOUBLE_EQ(model.contentOpacity(), 0.0);

    model.disappear();
    EXPECT_FALSE(model.isListeningForDismiss());
}

// Music that resumes after the content has left but before the mode changes keeps the mode: the
// pills must come back rather than leave an empty notch while the music plays.
TEST_F(MiniPlayerTest, MusicResumingDuringTheDismissReplaysTheAppearance) {
    NotchStateManager manager(bus, scheduler(), &defaults());
    MiniPlayerViewModel model(environment());
    bus.nowPlayingSubject.send(song(QStringLiteral("Song")));
    ASSERT_EQ(bus.notchModeSubject.value(), NotchMode::miniPlayer);
    model.appear();
    advanceTo(1.0);
    bus.nowPlayingSubject.send(song(QStringLiteral("Song"), 0.0));
    advanceTo(2.6);  // the content dismissed at 2.5
    EXPECT_EQ(model.pillRevealValue().lastAnimation()->to, 0.0);
    bus.nowPlayingSubject.send(song(QStringLiteral("Song")));
    advanceTo(5.0);
    EXPECT_EQ(bus.notchModeSubject.value(), NotchMode::miniPlayer);
    EXPECT_NEAR(model.pillReveal(), 1.0, 1e-3);
    EXPECT_DOUBLE_EQ(model.contentOpacity(), 1.0);
    EXPECT_TRUE(model.isListeningForDismiss());

    // A paused record during a dismiss does not bring it back.
    bus.nowPlayingSubject.send(song(QStringLiteral("Song"), 0.0));
    advanceTo(6.6);
    bus.nowPlayingSubject.send(song(QStringLiteral("Other"), 0.0));
    advanceTo(7.0);
    EXPECT_NEAR(model.pillReveal(), 0.0, 1e-3);
}

TEST_F(MiniPlayerTest, WithoutAnyScreenTheNotchHasNoSizeAndDrawingStillWorks) {
    screens.screenList.clear();
    MiniPlayerViewModel model(environment());
    const NotchInfo none = model.notchInfo();
    EXPECT_EQ(none.width, 0);
    EXPECT_EQ(none.height, 0);
    EXPECT_FALSE(none.hasSafeArea);

    screens.screenList = {testsupport::plainScreen(0, 0, 1440, 900)};
    EXPECT_FALSE(model.notchInfo().hasSafeArea);
    screens.screenList.clear();

    MiniPlayerView view(nullptr, environment());
    view.resize(300, 32);
    QImage image(300, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    view.paintContent(painter);
    painter.end();
    EXPECT_EQ(view.bandRect(), QRectF(60, 0, 180, 32));
}
