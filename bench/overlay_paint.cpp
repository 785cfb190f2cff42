// One frame of the overlay in each style, at a device pixel ratio of 2, with a Japanese message
// and application name. "Frame" is a frame of an animation (the grow, a marquee pass, the glass
// highlight): the layout is unchanged since the last one. "FirstFrame" follows a layout change
// (the tint is switched before each one), so everything is drawn afresh.
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

    explicit ShownCard(OverlayStyle style) {
        defaults.set(AppSettings::styleKey, caseName(style));
        view = std::make_unique<IslandView>(nullptr, bus, scheduler, defaults);
        OverlayState state = bus.overlayStateSubject.value();
        state.isVisible = true;
        state.mode = IslandMode::expanded;
        state.count = 1;
        state.message = QStringLiteral("会議は7時から • 資料を確認してください");
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
