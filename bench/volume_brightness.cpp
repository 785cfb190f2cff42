#include "core/event_bus.h"
#include "live_activities/brightness_services.h"
#include "live_activities/volume_service.h"
#include "platform/logging/log_backend.h"
#include "support/service_fixtures.h"
#include "support/virtual_scheduler.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

namespace {

class DiscardingBackend final : public platform::LogBackend {
public:
    bool isEnabled(platform::LogLevel) const override { return true; }
    void write(platform::LogLevel, const QString&) override {}
};

void writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(text);
}

// One 0.3 s poll of each service over a sysfs tree of plain files (the kernel's attributes read
// no slower): two small reads for the display, a folder listing and two reads for the keyboard.
template <class Service>
void BM_BrightnessPoll(benchmark::State& state) {
    QTemporaryDir root;
    writeFile(root.path() + "/class/backlight/intel_backlight/max_brightness", "19200\n");
    writeFile(root.path() + "/class/backlight/intel_backlight/brightness", "9600\n");
    writeFile(root.path() + "/class/leds/tpacpi::kbd_backlight/max_brightness", "2\n");
    writeFile(root.path() + "/class/leds/tpacpi::kbd_backlight/brightness", "1\n");
    platform::VirtualScheduler scheduler;
    EventBus bus(scheduler);
    platform::Backlights backlights(root.path());
    Service service(bus, scheduler, backlights);
    service.start();
    for (auto _ : state) scheduler.advance(Service::pollInterval);
    service.stop();
}
BENCHMARK_TEMPLATE(BM_BrightnessPoll, DisplayBrightnessService)->Unit(benchmark::kMicrosecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_TEMPLATE(BM_BrightnessPoll, KeyboardBrightnessService)->Unit(benchmark::kMicrosecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);

// From starting `pactl set-sink-volume` to the VolumeInfo on the bus, against a private PulseAudio
// daemon: the tool's own start, the server, its notice on libpulse's thread and the hop.
void BM_PactlToBus(benchmark::State& state) {
    QString error;
    auto pulse = testsupport::PrivatePulseAudio::start({QStringLiteral("quill_bench")}, &error);
    if (!pulse) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    auto environment = pulse->exportServer();
    auto audio = platform::makePulseAudioOutput("quillvex-bench");
    platform::VirtualScheduler scheduler;
    EventBus bus(scheduler);
    VolumeService service(bus, scheduler, audio.get());
    service.start();
    int received = 0;
    auto subscription = bus.volumeInfoSubject.sink([&](const std::optional<VolumeInfo>& info) { received += info ? 1 : 0; });
    received = 0;
    bool low = true;
    for (auto _ : state) {
        const int before = received;
        const QString level = low ? QStringLiteral("30%") : QStringLiteral("60%");
        low = !low;
        const auto start = std::chrono::steady_clock::now();
        pulse->pactl({QStringLiteral("set-sink-volume"), QStringLiteral("@DEFAULT_SINK@"), level});
        QElapsedTimer limit;
        limit.start();
        while (received == before && limit.elapsed() < 5000) {
            scheduler.drain();
            if (received == before) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (received == before) {
            state.SkipWithError("the change never reached the bus");
            break;
        }
    }
    service.stop();
}
BENCHMARK(BM_PactlToBus)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30)->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    DiscardingBackend backend;
    platform::LogBackend::setShared(&backend);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
