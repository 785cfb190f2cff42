#include "core/event_bus.h"
#include "live_activities/battery_service.h"
#include "platform/logging/log_backend.h"
#include "platform/power/linux_power_sources.h"
#include "support/virtual_scheduler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <map>

namespace {

class DiscardingBackend final : public platform::LogBackend {
public:
    bool isEnabled(platform::LogLevel) const override { return true; }
    void write(platform::LogLevel, const QString&) override {}
};

// A laptop's power_supply folder: the adapter, the battery, two USB-C ports and a mouse.
void writeSupply(const QString& root, const QString& name, const std::map<QString, QString>& attributes) {
    QDir().mkpath(root + '/' + name);
    for (const auto& [attribute, value] : attributes) {
        QFile file(root + '/' + name + '/' + attribute);
        if (file.open(QIODevice::WriteOnly)) file.write((value + '\n').toUtf8());
    }
}

void writeLaptop(const QString& root) {
    writeSupply(root, "AC", {{"type", "Mains"}, {"online", "0"}});
    writeSupply(root, "BAT0", {{"type", "Battery"}, {"present", "1"}, {"scope", "System"}, {"capacity", "57"},
                               {"status", "Discharging"}, {"energy_now", "28500000"}, {"energy_full", "50000000"}});
    writeSupply(root, "ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "0"}});
    writeSupply(root, "ucsi-source-psy-USBC000:002", {{"type", "USB"}, {"online", "0"}});
    writeSupply(root, "hid-00:11:22:33:44:55-battery", {{"type", "Battery"}, {"scope", "Device"}, {"capacity", "80"}});
}

// One check as the 5-second timer runs it: the kernel's files read, the rules applied, the record
// published to a listener (as a shown activity view listens).
void BM_BatteryCheck(benchmark::State& state) {
    QTemporaryDir dir;
    writeLaptop(dir.path());
    DiscardingBackend backend;
    auto* previousBackend = platform::LogBackend::setShared(&backend);
    platform::VirtualScheduler scheduler;
    platform::QtDBusConnection noBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("bench-battery"));
    platform::LinuxPowerSources sources(dir.path(), noBus);
    EventBus bus(scheduler);
    int received = 0;
    auto listener = bus.batteryInfoSubject.sink([&](const std::optional<BatteryInfo>& info) { received += info ? 1 : 0; });
    BatteryService service(bus, scheduler, sources);
    service.start();
    for (auto _ : state) scheduler.advance(BatteryService::checkInterval);
    service.stop();
    state.counters["published"] = received;
    platform::LogBackend::setShared(previousBackend);
}
BENCHMARK(BM_BatteryCheck)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The reading alone.
void BM_PowerSourceReading(benchmark::State& state) {
    QTemporaryDir dir;
    writeLaptop(dir.path());
    platform::QtDBusConnection noBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("bench-reading"));
    platform::LinuxPowerSources sources(dir.path(), noBus);
    for (auto _ : state) benchmark::DoNotOptimize(sources.firstPowerSource());
}
BENCHMARK(BM_PowerSourceReading)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
