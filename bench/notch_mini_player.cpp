// One frame of the mini player at 276 x 32 points, at a device pixel ratio of 2, fully revealed,
// with the artwork and the level bars: "Frame" keeps the artwork (an animation frame of the bars),
// "ArtworkChange" swaps it before each frame, so it is scaled afresh.

#include "music/audio_visualizer.h"
#include "notch/mini_player_view.h"
#include "support/virtual_scheduler.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

class StillMedia final : public MiniPlayerMedia {
public:
    std::optional<NowPlayingInfo> track;
    std::optional<NowPlayingInfo> nowPlaying() const override { return track; }
    std::optional<QImage> lastArtwork() const override { return track ? track->artwork : std::nullopt; }
    std::optional<QColor> artworkDominantColor() const override { return QColor(200, 80, 60); }
    platform::AnyCancellable observe(std::function<void()>) override { return {}; }
};

QImage cover(QColor colour) {
    QImage image(600, 600, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

struct ShownMiniPlayer {
    platform::VirtualScheduler scheduler;
    platform::Defaults defaults;
    EventBus bus{scheduler};
    AudioVisualizer visualizer{bus, scheduler};
    StillMedia media;
    std::unique_ptr<MiniPlayerView> view;
    QImage target{QSize(276, 32) * 2, QImage::Format_ARGB32_Premultiplied};

    ShownMiniPlayer() {
        defaults.set(QStringLiteral("musicNotchColorMode"), QStringLiteral("dynamic"));
        NowPlayingInfo info;
        info.title = QStringLiteral("Song");
        info.playbackRate = 1;
        info.artwork = cover(Qt::red);
        media.track = info;
        view = std::make_unique<MiniPlayerView>(
            nullptr, MiniPlayerEnvironment{&bus, &scheduler, &defaults, nullptr, &media, &visualizer});
        view->resize(276, 32);
        view->model().appear();
        visualizer.barHeights.send({0.5, 0.8, 1.0, 0.6, 0.9, 0.4});
        scheduler.advance(2.0);  // revealed and faded in
        target.setDevicePixelRatio(2);
    }

    void frame() {
        target.fill(Qt::transparent);
        QPainter painter(&target);
        view->paintContent(painter);
    }
};

void BM_Frame(benchmark::State& state) {
    ShownMiniPlayer shown;
    shown.frame();
    for (auto _ : state) shown.frame();
}
BENCHMARK(BM_Frame)->Unit(benchmark::kMicrosecond);

void BM_ArtworkChange(benchmark::State& state) {
    ShownMiniPlayer shown;
    const QImage covers[] = {cover(Qt::red), cover(Qt::blue)};
    int i = 0;
    for (auto _ : state) {
        shown.media.track->artwork = covers[i ^= 1];
        shown.view->model().syncDisplayedArtwork();
        shown.frame();
    }
}
BENCHMARK(BM_ArtworkChange)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}
