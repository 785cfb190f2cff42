// One frame of the overlay in each style, at a device pixel ratio of 2, with a Japanese message
// and application name. "Frame" is a frame of an animation (the grow, a marquee pass, the glass
// highlight): the layout is unchanged since the last one. "FirstFrame" follows a layout change
// (the tint is switched before each one), so everything is drawn afresh.
//
// "HugeMessage" builds and draws a card whose message is 400,000 characters long, once per style;
// run it alone under /usr/bin/time -v for its peak memory.
//
// "SlidingShape" takes the pixels the card draws (the window's shape) while it slides a pixel a frame.
//
// QUILLVEX_BENCH_FRAMES=<folder> also writes the frame of each style there as a PNG.

#include "core/app_settings.h"
#include "core/event_bus.h"
#include "core/log.h"
#include "overlay/island_view.h"
#include "support/virtual_scheduler.h"

#include <QApplication>
#include <QDir>
#include <QImage>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// A card as the overlay shows it: settled after its grow, message and source in Japanese.
struct ShownCard {
    platform::VirtualScheduler scheduler;
    platform::Defaults defaults;
    EventBus bus{scheduler};
    std::unique_ptr<IslandView> view;
    QImage target;

    explicit ShownCard(OverlayStyle style, QString message = QStringLiteral("会議は7時から • 資料を確認してください")) {
        defaults.set(AppSettings::styleKey, caseName(style));
        view = std::make_unique<IslandView>(nullptr, bus, scheduler, defaults);
        OverlayState state = bus.overlayStateSubject.value();
        state.isVisible = true;
        state.mode = IslandMode::expanded;
        state.count = 1;
        state.message = std::move(message);
        state.sourceHint = QStringLiteral("カレンダー");
        bus.overlayStateSubject.send(state);
        view->resize(view->sizeHint());
        view->show();
        scheduler.advance(1.0);  // the grow has settled; a marquee waits for its first pass
        target = QImage(view->size() * 2, QImage::Format_ARGB32_Premultiplied);
        target.setDevicePixelRatio(2);
    }

    void frame() {
        target.fill(Qt::transparent);
        view->render(&target);
    }
};

const OverlayStyle kStyles[] = {OverlayStyle::singlePill, OverlayStyle::splitPill, OverlayStyle::notchSheet,
                                OverlayStyle::liquidGlass};

void BM_Frame(benchmark::State& state) {
    ShownCard card(kStyles[state.range(0)]);
    card.frame();
    for (auto _ : state) card.frame();
    state.SetLabel(caseName(kStyles[state.range(0)]).toStdString());
}
BENCHMARK(BM_Frame)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

void BM_FirstFrame(benchmark::State& state) {
    ShownCard card(kStyles[state.range(0)]);
    bool alternate = false;
    for (auto _ : state) {
        card.defaults.set(AppSettings::tintKey, alternate ? QStringLiteral("midnight") : QStringLiteral("black"));
        alternate = !alternate;
        card.frame();
    }
    state.SetLabel(caseName(kStyles[state.range(0)]).toStdString());
}
BENCHMARK(BM_FirstFrame)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// The pixels the card draws, for the window's shape, while it slides at its full size by a pixel a
// frame with its frame half a pixel off the grid (as a card shorter than its window is).
void BM_SlidingShape(benchmark::State& state) {
    ShownCard card(kStyles[state.range(0)]);
    const QSize size = card.view->size();
    card.view->resize(size.width(), size.height() + 60);
    int step = 0;
    for (auto _ : state) {
        card.view->setPlacement(QRect(0, step, size.width(), size.height() + 1));
        benchmark::DoNotOptimize(card.view->drawnPixels(1, QPoint()));
        step = (step + 1) % 40;
    }
    state.SetLabel(caseName(kStyles[state.range(0)]).toStdString());
}
BENCHMARK(BM_SlidingShape)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// A 400,000-character summary (a pasted log): shown from its arrival to its first frame.
void BM_HugeMessage(benchmark::State& state) {
    const QString message = QStringLiteral("Build log • ") + QString(400'000, QLatin1Char('x'));
    for (auto _ : state) {
        ShownCard card(kStyles[state.range(0)], message);
        card.frame();
    }
    state.SetLabel(caseName(kStyles[state.range(0)]).toStdString());
}
BENCHMARK(BM_HugeMessage)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(1);

void writeFrames(const QString& folder) {
    QDir().mkpath(folder);
    for (OverlayStyle style : kStyles) {
        ShownCard card(style);
        card.target.fill(QColor(90, 110, 140));  // a desktop-like backdrop, so the glass shows
        card.view->render(&card.target);
        card.target.save(folder + QLatin1Char('/') + caseName(style) + QStringLiteral(".png"));
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    if (const QByteArray folder = qgetenv("QUILLVEX_BENCH_FRAMES"); !folder.isEmpty()) writeFrames(QString::fromLocal8Bit(folder));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
