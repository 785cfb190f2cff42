// One frame of the expanded notch's opening: the surface at a size between the notch and the
// full player, with the player, its glance panel and their dates laid out and painted at 620 x 175.

#include "core/event_bus.h"
#include "notch/expanded_notch_view.h"
#include "notch/glance_side_panel.h"
#include "support/virtual_scheduler.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

namespace {

class BenchScreens final : public platform::Screens {
public:
    std::vector<platform::ScreenInfo> screens() const override {
        platform::ScreenInfo screen;
        screen.frame = QRectF(0, 0, 1512, 982);
        screen.visibleFrame = QRectF(0, 0, 1512, 957);
        return {screen};
    }
    std::optional<platform::ScreenInfo> mainScreen() const override { return screens().front(); }
    QPointF mouseLocation() const override { return {}; }
    QRectF primaryQtGeometry() const override { return QRectF(0, 0, 1512, 982); }
};

class BenchMedia final : public PlayerMedia {
public:
    std::optional<NowPlayingInfo> track;
    std::optional<NowPlayingInfo> nowPlaying() const override { return track; }
    bool isPlaying() const override { return true; }
    bool isBrowserMedia() const override { return false; }
    platform::AnyCancellable observe(std::function<void()>) override { return {}; }
    void togglePlayPause() override {}
    void nextTrack() override {}
    void previousTrack() override {}
    std::optional<bool> shuffle() const override { return std::nullopt; }
    std::optional<QString> loopStatus() const override { return std::nullopt; }
    bool toggleShuffle() override { return false; }
    bool cycleLoopStatus() override { return false; }
};

struct Scene {
    platform::VirtualScheduler scheduler;
    platform::Defaults defaults;
    EventBus bus{scheduler};
    BenchScreens screens;
    BenchMedia media;
    ExpandedDismissHandshake handshake{bus, scheduler};

    Scene() {
        QImage artwork(200, 200, QImage::Format_ARGB32);
        artwork.fill(QColor(200, 90, 60));
        NowPlayingInfo info;
        info.title = QStringLiteral("Midnight Harbour Lights");
        info.artist = QStringLiteral("The Quiet Tides");
        info.album = QStringLiteral("Northern Coast");
        info.artwork = artwork;
        info.playbackRate = 1;
        media.track = info;
        const QDateTime now = QDateTime::fromSecsSinceEpoch(
            std::chrono::system_clock::to_time_t(scheduler.wallNow()), QTimeZone::systemTimeZone());
        QList<CalendarEvent> events;
        for (int i = 0; i < 3; ++i) {
            CalendarEvent e;
            e.id = QString::number(i);
            e.title = QStringLiteral("Event %1").arg(i);
            e.calendarTitle = QStringLiteral("Work");
            e.startDate = now.addSecs(3600 * i);
            events << e;
        }
        bus.calendarEventsSubject.send(events);
        WeatherInfo weather;
        weather.temperature = 8.6;
        weather.conditionDescription = QStringLiteral("Partly cloudy");
        weather.iconName = QStringLiteral("cloud.sun.fill");
        bus.weatherInfoSubject.send(weather);
        bus.lyricsSubject.send(LyricsInfo{QString(), {QStringLiteral("Lanterns on the water")}, 0});
    }

    NotchViewServices services() {
        return NotchViewServices{bus, scheduler, defaults, screens, platform::Workspace::shared(), media, handshake, {}, {}};
    }
};

void BM_ExpandedOpeningFrame(benchmark::State& state) {
    Scene scene;
    ExpandedNotchView view(nullptr, scene.services());
    view.resize(620, 175);
    view.show();
    scene.scheduler.drain();
    // Arg: the device pixel ratio (1: 620 x 175 pixels; 2: a high-density screen).
    const int ratio = static_cast<int>(state.range(0));
    QImage image(620 * ratio, 175 * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    double t = 0;
    for (auto _ : state) {
        // Walk through the opening frame by frame (0.2 s to 0.4 s: growing, player fading in).
        t += 1.0 / 60;
        if (t > 0.2) {
            state.PauseTiming();
            view.hide();
            view.show();
            scene.scheduler.drain();
            scene.scheduler.advance(0.2);
            t = 0;
            state.ResumeTiming();
        }
        scene.scheduler.advance(1.0 / 60);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        view.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_ExpandedOpeningFrame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_GlancePanelLayout(benchmark::State& state) {
    Scene scene;
    GlancePanelState panelState;
    panelState.events = scene.bus.calendarEventsSubject.value();
    panelState.weatherInfo = scene.bus.weatherInfoSubject.value();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    panelState.selectedDate = now.date().startOfDay(QTimeZone::systemTimeZone());
    for (auto _ : state) {
        GlanceSidePanel panel(panelState, now);
        benchmark::DoNotOptimize(panel.layout({276, 111}));
    }
}
BENCHMARK(BM_GlancePanelLayout)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
