// How soon a new screenshot becomes an activity request (the folder watch's latency dominates),
// and what one update of the downloads search costs once 10,000 files are known.

#include "core/event_bus.h"
#include "live_activities/air_drop_service.h"
#include "live_activities/screenshot_service.h"
#include "platform/files/directory_watcher.h"
#include "platform/logging/log_backend.h"
#include "platform/metadata_query/metadata_query.h"
#include "support/fake_directory_watcher.h"
#include "support/fake_distributed_notifications.h"
#include "support/fake_user_folders.h"
#include "support/virtual_scheduler.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

constexpr int kKnownFiles = 10'000;

class QuietLog final : public platform::LogBackend {
public:
    QuietLog() : previous_(platform::LogBackend::setShared(this)) {}
    ~QuietLog() override { platform::LogBackend::setShared(previous_); }
    bool isEnabled(platform::LogLevel) const override { return true; }
    void write(platform::LogLevel, const QString&) override {}

private:
    platform::LogBackend* previous_;
};

bool writeFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("png") == 3;
}

// A real folder watched through inotify on the application's own event loop: from the moment the
// file is closed to the moment the request reaches the bus.
void BM_ScreenshotToRequest(benchmark::State& state) {
    QuietLog quiet;
    QTemporaryDir folder;
    testsupport::FakeUserFolders folders;
    folders.home = folder.path();
    folders.screenshots = folder.path();
    EventBus bus(platform::Scheduler::shared());
    platform::InotifyDirectoryWatcher watcher(platform::Scheduler::shared());
    ScreenshotService service(bus, platform::Scheduler::shared(), watcher, folders);
    service.start();

    QEventLoop loop;
    bool requested = false;
    auto requestedAt = std::chrono::steady_clock::now();
    auto subscription = bus.liveActivityEventSubject.sink([&](const std::optional<LiveActivityType>&) {
        requestedAt = std::chrono::steady_clock::now();
        requested = true;
        loop.quit();
    });
    std::vector<double> latencies;
    int n = 0;
    for (auto _ : state) {
        requested = false;
        if (!writeFile(folder.path() + QStringLiteral("/Screenshot %1.png").arg(++n))) {
            state.SkipWithError("cannot write the screenshot");
            return;
        }
        const auto writtenAt = std::chrono::steady_clock::now();
        auto timeout = platform::Scheduler::shared().after(5.0, [&] { loop.quit(); });
        if (!requested) loop.exec();
        timeout.cancel();
        if (!requested) {
            state.SkipWithError("no request within 5 s");
            return;
        }
        const double seconds = std::chrono::duration<double>(requestedAt - writtenAt).count();
        latencies.push_back(seconds);
        state.SetIterationTime(seconds);
    }
    service.stop();
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) return;
    state.counters["median_ms"] = latencies[latencies.size() / 2] * 1e3;
    state.counters["max_ms"] = latencies.back() * 1e3;
}
BENCHMARK(BM_ScreenshotToRequest)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

// A result set the benchmark fills.
class ListQuery final : public platform::MetadataQuery {
public:
    void stop() override {}
    void disableUpdates() override {}
    void enableUpdates() override {}
    int resultCount() const override { return static_cast<int>(items.size()); }
    const platform::MetadataItem& resultAt(int index) const override { return items[static_cast<size_t>(index)]; }
    std::vector<platform::MetadataItem> items;
};

// The service's walk alone: 10,000 known results and one new web download per update.
void BM_AirDropUpdateWalk(benchmark::State& state) {
    QuietLog quiet;
    platform::VirtualScheduler scheduler;
    EventBus bus(scheduler);
    testsupport::FakeDirectoryWatcher watcher;
    platform::DirectoryMetadataSearch search(watcher, &scheduler);
    testsupport::FakeDistributedNotificationCenter notices;
    testsupport::FakeUserFolders folders;
    AirDropService service(bus, scheduler, search, notices, folders);
    service.start();
    ListQuery query;
    for (int i = 0; i < kKnownFiles; ++i)
        query.items.push_back({QStringLiteral("/home/u/Downloads/file-%1.pdf").arg(i), QStringList{"https://example.org/"}, {}});
    service.queryDidFinishGathering(query);
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        query.items.insert(query.items.begin(),
                           {QStringLiteral("/home/u/Downloads/new-%1.pdf").arg(++n), QStringList{"https://example.org/"}, {}});
        state.ResumeTiming();
        service.queryDidUpdate(query);
    }
    service.stop();
}
BENCHMARK(BM_AirDropUpdateWalk)->Unit(benchmark::kMillisecond);

// The whole update: a folder of 10,000 files, one new file closed after writing: the search takes
// the event in (stat and origin of that file, the set re-sorted) and the service walks the set.
void BM_AirDropUpdateFromFolder(benchmark::State& state) {
    QuietLog quiet;
    QTemporaryDir folder;
    for (int i = 0; i < kKnownFiles; ++i) writeFile(folder.path() + QStringLiteral("/file-%1.pdf").arg(i));
    platform::VirtualScheduler scheduler{std::chrono::system_clock::now()};
    EventBus bus(scheduler);
    testsupport::FakeDirectoryWatcher watcher;
    platform::DirectoryMetadataSearch search(watcher, &scheduler);
    testsupport::FakeDistributedNotificationCenter notices;
    testsupport::FakeUserFolders folders;
    folders.downloads = folder.path();
    AirDropService service(bus, scheduler, search, notices, folders);
    service.start();
    scheduler.drain();
    if (service.knownItems().size() != kKnownFiles) {
        state.SkipWithError("the gathering did not find every file");
        return;
    }
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = folder.path() + QStringLiteral("/new-%1.pdf").arg(++n);
        writeFile(path);
        state.ResumeTiming();
        watcher.deliver(folder.path(), {{path, platform::DirectoryEvent::Kind::ClosedWrite}});
    }
    service.stop();
}
BENCHMARK(BM_AirDropUpdateFromFolder)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
