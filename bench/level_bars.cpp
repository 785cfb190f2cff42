// One tick of the level bars: the random walk published, then the bars repainted at every
// animation frame of the 0.1 s height change (6 frames at 60 Hz), as a shown mini player does;
// and the walk with a single repaint. Virtual time, so only the work itself is measured.

#include "bench_support.h"
#include "music/audio_visualizer.h"
#include "music/mini_audio_bars_view.h"
#include "support/virtual_scheduler.h"

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

namespace {

struct Setup {
    platform::VirtualScheduler scheduler;
    platform::Scheduler* previous = platform::Scheduler::setShared(&scheduler);
    EventBus bus{scheduler};
    AudioVisualizer visualizer{bus, scheduler};
    MiniAudioBarsView view{visualizer, QColor(30, 215, 96), nullptr, 2, 1.5, 16, scheduler};
    QImage image{view.size() * 2, QImage::Format_ARGB32_Premultiplied};
    Setup() {
        image.setDevicePixelRatio(2);
        scheduler.drain();
    }
    ~Setup() { platform::Scheduler::setShared(previous); }
    void paint() {
        image.fill(Qt::black);
        view.render(&image);
    }
};

void BM_TickWithAnimationFrames(benchmark::State& state) {
    Setup s;
    for (auto _ : state) {
        s.visualizer.updateBars();
        for (int frame = 0; frame < 6; ++frame) {
            s.scheduler.advance(1.0 / 60);
            s.paint();
        }
        benchmark::DoNotOptimize(s.image.constBits());
    }
}
BENCHMARK(BM_TickWithAnimationFrames)->Unit(benchmark::kMicrosecond);

void BM_WalkAndOnePaint(benchmark::State& state) {
    Setup s;
    for (auto _ : state) {
        s.visualizer.updateBars();
        s.scheduler.advance(0.1);
        s.paint();
        benchmark::DoNotOptimize(s.image.constBits());
    }
}
BENCHMARK(BM_WalkAndOnePaint)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::runOffscreenWidgetBenchmarks(argc, argv); }
