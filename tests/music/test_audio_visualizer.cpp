// The level bars: the walk starts and stops with the playing record, steps with pinned random
// values, and the bars' geometry, gradient and animations as the view model gives them.

#include "music/audio_visualizer.h"
#include "music/mini_audio_bars_painter.h"
#include "music/mini_audio_bars_view.h"
#include "music/mini_audio_bars_view_model.h"
#include "support/fixtures.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>

#include <gtest/gtest.h>

using platform::LogLevel;

namespace {

std::optional<NowPlayingInfo> playing(double rate) {
    NowPlayingInfo info;
    info.title = QStringLiteral("Song");
    info.artist = QStringLiteral("Band");
    info.playbackRate = rate;
    return info;
}

class AudioVisualizerTest : public testsupport::QuillvexTest {
protected:
    AudioVisualizerTest() : bus(scheduler()) {}
    // Every random draw returns the same unit value: 0 gives -0.3, 1 gives +0.3.
    void pinRandom(double unit) {
        scheduler().setRandomSource([unit] { return unit; });
    }
    ~AudioVisualizerTest() override { scheduler().setRandomSource({}); }

    EventBus bus;
};

}  // namespace

TEST(AudioVisualizerStep, ClampsToTheRangeAndLiftsTheMiddleBars) {
    using V = AudioVisualizer;
    const V::Heights top(6, 1.0);
    EXPECT_EQ(V::step(top, [](size_t) { return 0.3; }), top);
    const V::Heights floor(6, 0.15);
    const V::Heights down = V::step(floor, [](size_t) { return -0.3; });
    for (size_t i : {0u, 1u, 4u, 5u}) EXPECT_DOUBLE_EQ(down[i], 0.15);
    for (size_t i : {2u, 3u}) EXPECT_DOUBLE_EQ(down[i], 0.15 * 1.1);
    const V::Heights near = V::step(V::Heights(6, 0.95), [](size_t) { return 0.0; });
    EXPECT_DOUBLE_EQ(near[2], 1.0);  // 0.95 x 1.1 is capped
    EXPECT_DOUBLE_EQ(near[0], 0.95);
    const V::Heights mixed = V::step(V::Heights(6, 0.5), [](size_t i) { return i % 2 ? 0.1 : -0.1; });
    EXPECT_DOUBLE_EQ(mixed[0], 0.4);
    EXPECT_DOUBLE_EQ(mixed[1], 0.6);
    EXPECT_DOUBLE_EQ(mixed[2], 0.4 * 1.1);
}

TEST_F(AudioVisualizerTest, PlayingStartsOneTimerAndPausingRestsTheBarsOneTurnLater) {
    AudioVisualizer visualizer(bus, scheduler());
    EXPECT_TRUE(log.contains(LogLevel::Debug, "AudioVisualizer: Stopped"));  // nothing plays at creation
    scheduler().drain();
    EXPECT_EQ(visualizer.barHeights.value(), AudioVisualizer::Heights(6, 0.15));
    log.clear();

    bus.nowPlayingSubject.send(playing(1.0));
    EXPECT_TRUE(visualizer.isAnimating());
    EXPECT_TRUE(visualizer.hasTimer());
    EXPECT_EQ(log.count("AudioVisualizer: Started"), 1);
    const size_t pending = scheduler().pendingCount();
    bus.nowPlayingSubject.send(playing(1.0));
    bus.nowPlayingSubject.send(playing(2.0));
    EXPECT_EQ(scheduler().pendingCount(), pending);  // no second timer
    EXPECT_EQ(log.count("AudioVisualizer: Started"), 1);

    pinRandom(0.75);  // +0.15 per step
    scheduler().advance(0.1);
    EXPECT_DOUBLE_EQ(visualizer.barHeights.value()[0], 0.3);
    scheduler().advance(0.1);
    EXPECT_DOUBLE_EQ(visualizer.barHeights.value()[0], 0.45);

    bus.nowPlayingSubject.send(playing(0.0));
    EXPECT_FALSE(visualizer.isAnimating());
    EXPECT_FALSE(visualizer.hasTimer());
    EXPECT_TRUE(log.contains(LogLevel::Debug, "AudioVisualizer: Stopped"));
    EXPECT_DOUBLE_EQ(visualizer.barHeights.value()[0], 0.45);  // not yet
    scheduler().drain();
    EXPECT_EQ(visualizer.barHeights.value(), AudioVisualizer::Heights(6, 0.15));
    scheduler().advance(1.0);
    EXPECT_EQ(visualizer.barHeights.value(), AudioVisualizer::Heights(6, 0.15));

    bus.nowPlayingSubject.send(std::nullopt);
    EXPECT_EQ(log.count("AudioVisualizer: Stopped"), 2);  // every paused or absent record stops
}

TEST_F(AudioVisualizerTest, AlreadyPlayingAtCreationStartsAtOnceAndAPinnedWalkHoldsTheTop) {
    bus.nowPlayingSubject.send(playing(1.0));
    AudioVisualizer visualizer(bus, scheduler());
    EXPECT_TRUE(visualizer.isAnimating());
    EXPECT_EQ(visualizer.barHeights.value(), AudioVisualizer::Heights(6, 0.2));

    pinRandom(1.0);  // always +0.3
    scheduler().advance(0.4);
    EXPECT_EQ(visualizer.barHeights.value(), AudioVisualizer::Heights(6, 1.0));
    scheduler().advance(1.0);
    EXPECT_EQ(visualizer.barHeights.value(), AudioVisualizer::Heights(6, 1.0));

    pinRandom(0.0);  // always -0.3
    scheduler().advance(1.0);
    const AudioVisualizer::Heights low = visualizer.barHeights.value();
    EXPECT_DOUBLE_EQ(low[0], 0.15);
    EXPECT_DOUBLE_EQ(low[2], 0.15 * 1.1);
}

TEST_F(AudioVisualizerTest, ViewModelLaysOutTheBarsAndAnimatesThem) {
    AudioVisualizer visualizer(bus, scheduler());
    scheduler().drain();
    visualizer.barHeights.send(AudioVisualizer::Heights(6, 0.2));
    MiniAudioBarsViewModel model(visualizer, QColor(Qt::white), 2, 1.5, 16, scheduler());
    ASSERT_EQ(model.barCount(), 6);
    // 6 x 2 + 5 x 1.5 = 19.5 points, centred in 22 x 20; 0.2 x 16 = 3.2 is raised to 4.
    EXPECT_EQ(model.barRect(0), QRectF(1.25, 8, 2, 4));
    EXPECT_EQ(model.barRect(5), QRectF(1.25 + 5 * 3.5, 8, 2, 4));
    EXPECT_DOUBLE_EQ(model.cornerRadius(), 1.0);
    EXPECT_EQ(model.topColor(), QColor(Qt::white));
    EXPECT_NEAR(model.bottomColor().alphaF(), 0.4, 0.01);

    int changes = 0;
    auto listening = model.onChange([&] { ++changes; });
    EXPECT_EQ(MiniAudioBarsViewModel::heightAnimation(), platform::Animation::easeInOut(0.1));
    visualizer.barHeights.send(AudioVisualizer::Heights{1.0, 0.5, 0.2, 0.2, 0.2, 0.2});
    EXPECT_TRUE(model.isMoving(0));
    EXPECT_TRUE(model.isMoving(1));
    for (int i : {2, 3, 4, 5}) EXPECT_FALSE(model.isMoving(i)) << i;  // the unchanged bars do not move
    scheduler().advance(0.05);
    EXPECT_NEAR(model.level(0), 0.6, 1e-9);  // ease-in-out: half way at half time
    EXPECT_GT(model.barHeight(0), 4);
    EXPECT_LT(model.barHeight(0), 16);
    scheduler().advance(0.1);
    EXPECT_DOUBLE_EQ(model.barHeight(0), 16);
    EXPECT_EQ(model.barRect(0), QRectF(1.25, 2, 2, 16));
    EXPECT_DOUBLE_EQ(model.barHeight(1), 8);
    EXPECT_GT(changes, 2);
    EXPECT_EQ(scheduler().pendingCount(), 0u);  // at rest nothing is set to wake

    platform::AnimationRecorder animations;
    animations.clear();
    model.setAccentColor(QColor(Qt::white));
    EXPECT_TRUE(animations.entries().empty());
    model.setAccentColor(QColor(255, 0, 0));
    ASSERT_EQ(animations.entries().size(), 1u);
    EXPECT_EQ(animations.entries()[0].animation, platform::Animation::easeInOut(0.5));
    scheduler().advance(0.5);
    EXPECT_EQ(model.topColor(), QColor(255, 0, 0));
}

TEST_F(AudioVisualizerTest, ViewPaintsGradientBarsInItsFrame) {
    AudioVisualizer visualizer(bus, scheduler());
    scheduler().drain();
    visualizer.barHeights.send(AudioVisualizer::Heights{1.0, 1.0, 1.0, 1.0, 1.0, 1.0});
    MiniAudioBarsView view(visualizer, QColor(0, 200, 80), nullptr, 2, 1.5, 16, scheduler());
    EXPECT_EQ(view.size(), QSize(22, 20));
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    // Inside the first bar: brighter at the top than near the bottom; between bars: background.
    const QColor top = image.pixelColor(2, 4);
    const QColor bottom = image.pixelColor(2, 16);
    EXPECT_GT(top.green(), 150);
    EXPECT_LT(bottom.green(), top.green());
    EXPECT_EQ(image.pixelColor(0, 10), QColor(Qt::black));  // left of the first bar (x 1.25 ... 3.25)
    EXPECT_LT(image.pixelColor(3, 10).green(), image.pixelColor(2, 10).green() / 2);  // mostly the gap
    EXPECT_EQ(image.pixelColor(2, 1), QColor(Qt::black));   // above the bar
}

// The bars ask for a frame only on the 60 Hz grid of their motion, only once a bar's edges have
// moved half a device pixel from what the last frame showed (a bar grows about its centre, so its
// height by a whole pixel), and always at the end, where they rest exactly.
TEST_F(AudioVisualizerTest, BarsAskForAFrameOnlyWhenABarsEdgesMovedHalfADevicePixelAndAlwaysAtTheEnd) {
    AudioVisualizer visualizer(bus, scheduler());
    scheduler().drain();
    visualizer.barHeights.send(AudioVisualizer::Heights{0.2, 0.5, 0.2, 0.2, 0.2, 0.2});
    MiniAudioBarsViewModel model(visualizer, QColor(Qt::white), 2, 1.5, 16, scheduler());
    model.setPixelRatio(2);
    struct Shown {
        double at;
        std::vector<double> heights;
    };
    std::vector<Shown> shown;
    auto listening = model.onChange([&] {
        std::vector<double> heights;
        for (int i = 0; i < model.barCount(); ++i) heights.push_back(model.barHeight(i));
        shown.push_back({scheduler().elapsed(), heights});
    });

    // 8 to 8.4 points: the edges move 0.2 points, 0.4 of a device pixel at ratio 2; nothing
    // until the end.
    const double start = scheduler().elapsed();
    visualizer.barHeights.send(AudioVisualizer::Heights{0.2, 0.525, 0.2, 0.2, 0.2, 0.2});
    EXPECT_TRUE(shown.empty());
    scheduler().advance(0.3);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NEAR(shown[0].at, start + 0.1, 1e-6);
    EXPECT_DOUBLE_EQ(shown[0].heights[1], 16 * 0.525);

    // 4 to 16 points at ratio 1: the ease starts slowly, so its first grid frame (edges 0.44
    // points on) is skipped; every frame shown moved the edges half a pixel, on the grid, and the
    // last one rests exactly.
    model.setPixelRatio(1);
    shown.clear();
    const double second = scheduler().elapsed();
    visualizer.barHeights.send(AudioVisualizer::Heights{1.0, 0.525, 0.2, 0.2, 0.2, 0.2});
    scheduler().advance(0.3);
    ASSERT_GE(shown.size(), 3u);
    EXPECT_LT(shown.size(), 7u);
    EXPECT_GT(shown.front().at, second + MiniAudioBarsViewModel::kFrameInterval + 1e-6);
    double before = 4;
    for (size_t n = 0; n < shown.size(); ++n) {
        const double k = (shown[n].at - second) / MiniAudioBarsViewModel::kFrameInterval;
        EXPECT_NEAR(k, std::round(k), 1e-3) << k;
        if (n + 1 < shown.size()) {
            EXPECT_GE(shown[n].heights[0] - before, 1.0) << k;  // the end shows anyway
        }
        before = shown[n].heights[0];
    }
    EXPECT_DOUBLE_EQ(shown.back().heights[0], 16);
    EXPECT_NEAR(shown.back().at, second + 0.1, 1e-6);

    // Levels it already shows change nothing.
    shown.clear();
    visualizer.barHeights.send(AudioVisualizer::Heights{1.0, 0.525, 0.2, 0.2, 0.2, 0.2});
    scheduler().advance(0.3);
    EXPECT_TRUE(shown.empty());
}

// While the walk runs, a motion's end is shown with the first frame of the next step, not on a
// wake of its own; with the walk stopped, the bars come to rest at the end of their motion.
TEST_F(AudioVisualizerTest, WhileTheWalkRunsAMotionsEndIsShownWithTheNextStep) {
    bus.nowPlayingSubject.send(playing(1.0));
    AudioVisualizer visualizer(bus, scheduler());
    MiniAudioBarsViewModel model(visualizer, QColor(Qt::white), 2, 1.5, 16, scheduler());
    std::vector<double> shownAt;
    auto listening = model.onChange([&] { shownAt.push_back(scheduler().elapsed()); });
    pinRandom(1.0);  // +0.3: every bar rises to the top within a few steps
    const double start = scheduler().elapsed();
    scheduler().advance(0.1);  // the first step: the bars start to move
    const double moved = scheduler().elapsed();
    scheduler().advance(0.1 + MiniAudioBarsViewModel::kFrameInterval / 2);
    // The end of the first motion (0.1 s after it began) showed nothing on its own.
    for (double at : shownAt) EXPECT_GT(std::abs(at - (moved + 0.1)), 1e-6) << at - start;

    bus.nowPlayingSubject.send(playing(0.0));
    scheduler().advance(1.0);
    ASSERT_FALSE(shownAt.empty());
    for (int i = 0; i < model.barCount(); ++i) EXPECT_DOUBLE_EQ(model.barHeight(i), 4) << i;  // 0.15 x 16 is raised to 4
    const double rested = shownAt.back();
    scheduler().advance(1.0);
    EXPECT_EQ(shownAt.back(), rested);
    EXPECT_EQ(scheduler().pendingCount(), 0u);
}

// The bars' kept pictures draw what filling the rounded gradient bars in place draws: the same
// pixels at rest, at ratio 1 and 2 and at a fractional origin; while moving (heights taken to
// 1/8 device pixel) no more than an edge's share of that.
TEST_F(AudioVisualizerTest, BarPicturesDrawWhatFillingTheBarsDraws) {
    AudioVisualizer visualizer(bus, scheduler());
    scheduler().drain();
    visualizer.barHeights.send(AudioVisualizer::Heights{0.9, 0.2, 1.0, 0.37, 0.55, 0.15});
    MiniAudioBarsViewModel model(visualizer, QColor(30, 200, 90), 2, 1.5, 16, scheduler());
    MiniAudioBarsPainter barsPainter;
    const auto render = [&](double ratio, QPointF origin, bool pictures) {
        QImage image(QSize(30, 26) * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.translate(origin);
        if (pictures) {
            barsPainter.paint(painter, model);
        } else {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            for (int i = 0; i < model.barCount(); ++i) {
                const QRectF rect = model.barRect(i);
                QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
                gradient.setColorAt(0, model.topColor());
                gradient.setColorAt(1, model.bottomColor());
                painter.setBrush(gradient);
                painter.drawRoundedRect(rect, model.cornerRadius(), model.cornerRadius());
            }
        }
        return image;
    };
    const auto maxDifference = [](const QImage& a, const QImage& b) {
        int most = 0;
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                 std::abs(qBlue(p) - qBlue(q))});
            }
        }
        return most;
    };
    for (double ratio : {1.0, 2.0}) {
        for (QPointF origin : {QPointF(3, 2), QPointF(3.3, 2.6)}) {
            EXPECT_LE(maxDifference(render(ratio, origin, true), render(ratio, origin, false)), 0) << ratio;
        }
    }
    visualizer.barHeights.send(AudioVisualizer::Heights{0.3, 0.8, 0.5, 0.9, 0.2, 0.6});
    for (int step = 0; step < 4; ++step) {
        scheduler().advance(0.02);
        ASSERT_TRUE(model.isMoving(0));
        for (double ratio : {1.0, 2.0}) {
            EXPECT_LE(maxDifference(render(ratio, QPointF(3, 2), true), render(ratio, QPointF(3, 2), false)), 16) << step;
        }
    }
}
