// The weather road and the glance panel: a loopback forecast request until the weather is on the
// bus (location in, HTTP over Qt Network, decoding, the hop to the main queue), how long a hostile
// 1 MiB reply holds the main thread, and one paint of the glance panel with sixty event rows and
// a weather card.

#include "bench_support.h"
#include "glance/glance_expanded_view.h"
#include "glance/weather_service.h"
#include "platform/http/qt_http_client.h"
#include "support/fake_location_manager.h"
#include "support/loopback_http_server.h"
#include "support/virtual_scheduler.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTimeZone>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

const QByteArray forecast = R"({"latitude":35.7,"longitude":139.7,"utc_offset_seconds":32400,
    "current_weather":{"temperature":12.4,"weathercode":1,"is_day":1},
    "hourly":{"time":["2099-01-01T00:00","2099-01-01T01:00","2099-01-01T02:00","2099-01-01T03:00"],
              "temperature_2m":[1,2,3,4],"weathercode":[0,1,2,3]}})";

void BM_LoopbackRequestToBus(benchmark::State& state) {
    testsupport::LoopbackHttpServer server([](const QString&) { return testsupport::LoopbackHttpServer::ok(forecast); });
    platform::QtHttpClient http(platform::HttpSecurity{true, {}});
    testsupport::FakeLocationManager location;
    EventBus bus;
    WeatherService service(&location, http, bus, platform::Scheduler::shared(), QUrl(server.url(QString())));
    int published = 0;
    auto subscription = bus.weatherInfoSubject.sink([&](const std::optional<WeatherInfo>& w) {
        if (w) ++published;
    });
    service.start();
    int i = 0;
    for (auto _ : state) {
        const int before = published;
        // Ten kilometres apart each time: every location fetches.
        location.deliver(35.0 + (i++ % 2) * 0.1, 139.0);
        if (!testsupport::spinUntil([&] { return published > before; }, 5)) {
            state.SkipWithError("no weather arrived");
            break;
        }
    }
    service.stop();
}
BENCHMARK(BM_LoopbackRequestToBus)->Unit(benchmark::kMicrosecond);

// Holds the completion of each request; the benchmark answers it when it chooses.
class HeldHttpClient final : public platform::HttpClient {
public:
    platform::HttpTransfer get(const platform::HttpRequest&, Completion completion) override {
        pending = std::move(completion);
        return {};
    }
    platform::HttpTransfer download(const platform::HttpRequest&, const QString&, Completion completion) override {
        pending = std::move(completion);
        return {};
    }
    Completion pending;
};

// A reply of 1 MiB of nested arrays answered on the main thread: the time counted is what the
// main thread spends on it (the completion and its main-queue steps); work on workers is not.
void BM_HostileReplyMainThreadBlock(benchmark::State& state) {
    platform::ThreadedGlobalScheduler scheduler;
    testsupport::FakeLocationManager location;
    HeldHttpClient http;
    EventBus bus(scheduler);
    WeatherService service(&location, http, bus, scheduler, QUrl(QStringLiteral("https://forecast.example")));
    service.start();
    const QByteArray body = QByteArray(512 * 1024, '[') + QByteArray(512 * 1024, ']');
    int i = 0;
    for (auto _ : state) {
        location.deliver(35.0 + (i++ % 2) * 0.1, 139.0);
        const auto start = std::chrono::steady_clock::now();
        http.pending(platform::HttpResult::success(platform::HttpResponse{200, body}));
        scheduler.main.drain();
        double mainSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        scheduler.join();
        const auto publish = std::chrono::steady_clock::now();
        scheduler.main.drain();
        mainSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - publish).count();
        state.SetIterationTime(mainSeconds);
    }
    service.stop();
}
BENCHMARK(BM_HostileReplyMainThreadBlock)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void BM_GlancePanelPaint60Events(benchmark::State& state) {
    EventBus bus;
    QList<CalendarEvent> events;
    const QDateTime start = QDateTime::currentDateTime();
    for (int i = 0; i < 60; ++i) {
        events.append(CalendarEvent{QString::number(i), QStringLiteral("Meeting number %1 with a longer title").arg(i),
                                    QStringLiteral("Work"), start.addSecs(i * 3600), start.addSecs(i * 3600 + 1800),
                                    i % 7 == 0, {0.2, 0.5, 0.9}, {}});
    }
    bus.calendarEventsSubject.send(events);
    WeatherInfo weather{21.5, 2, QStringLiteral("Partly cloudy"), QStringLiteral("cloud.sun.fill"), {}};
    for (int i = 0; i < 3; ++i) {
        weather.hourlyForecast.append({QUuid::createUuid(), start.addSecs(3600 * (i + 1)), 20.0 + i, 3,
                                       QStringLiteral("cloud.fill")});
    }
    bus.weatherInfoSubject.send(weather);
    GlanceExpandedView panel(nullptr, GlanceViewServices{bus, platform::Scheduler::shared(), platform::Defaults::standard(),
                                                       platform::Screens::shared(), {}, {}});
    panel.show();
    testsupport::spinUntil([&] { return panel.events().size() == 60 && panel.weatherInfo(); }, 5);
    QImage image(panel.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    for (auto _ : state) {
        image.fill(Qt::transparent);
        QPainter painter(&image);
        panel.render(&painter);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_GlancePanelPaint60Events)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::runOffscreenWidgetBenchmarks(argc, argv); }
