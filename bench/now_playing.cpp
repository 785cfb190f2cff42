// The now-playing helper on a private session bus with a fake MPRIS player: one "query" round
// trip (without artwork and with a 300x300 PNG cover), the launch up to READY (the main thread
// waits for it), and one poll of the service from its timer tick to the published track.
// Reported per call: median, 99th percentile and maximum.

#include "bench_support.h"
#include "music/media_remote_service.h"
#include "platform/process/posix_process_launcher.h"
#include "support/service_fixtures.h"
#include "support/virtual_scheduler.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const QString kHelper = QStringLiteral(QUILLVEX_NOWPLAYING_HELPER);

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    return values[index];
}

void report(benchmark::State& state, const std::vector<double>& seconds) {
    if (seconds.empty()) return;
    state.counters["median_ms"] = percentile(seconds, 0.5) * 1e3;
    state.counters["p99_ms"] = percentile(seconds, 0.99) * 1e3;
    state.counters["max_ms"] = percentile(seconds, 1.0) * 1e3;
}

// A private bus whose address the helpers inherit, with one player playing a track.
struct Desktop {
    std::unique_ptr<testsupport::PrivateBus> bus;
    std::unique_ptr<testsupport::ScopedEnvironment> exported;
    std::unique_ptr<testsupport::DBusMock> player;
    QTemporaryDir dir;
    QString artUrl;  // empty without artwork
    QString error;

    explicit Desktop(bool withArtwork) {
        bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
        if (!bus) return;
        exported = bus->exportAddress();
        QVariantMap metadata{{"xesam:title", "Song"},
                             {"xesam:artist", QStringList{"Band"}},
                             {"xesam:album", "Record"},
                             {"mpris:length", QVariant::fromValue<qlonglong>(215'000'000)}};
        if (withArtwork) {
            benchsupport::saveNoiseCover(dir.filePath("cover.png"));
            artUrl = QUrl::fromLocalFile(dir.filePath("cover.png")).toString();
            metadata["mpris:artUrl"] = artUrl;
        }
        player = testsupport::DBusMock::startMprisPlayer(*bus, "mockplayer",
                                                         {{"PlaybackStatus", "Playing"}, {"Metadata", metadata}}, &error);
    }
    bool ok() const { return player != nullptr; }
};

void queryRoundTrip(benchmark::State& state, bool withArtwork) {
    Desktop desktop(withArtwork);
    if (!desktop.ok()) {
        state.SkipWithError(desktop.error.toStdString().c_str());
        return;
    }
    platform::PosixProcessLauncher launcher;
    QString error;
    auto helper = launcher.start({kHelper, {}, platform::ProcessSpec::Stderr::Discard, {}}, &error);
    if (!helper || helper->readLine(5.0).text != "READY") {
        state.SkipWithError("the helper did not start");
        return;
    }
    std::vector<double> times;
    size_t bytes = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        helper->writeLine("query");
        const platform::LineRead reply = helper->readLine(5.0);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!reply.isLine() || !reply.text.startsWith("{\"isPlaying\":true")) {
            state.SkipWithError("no reply");
            return;
        }
        bytes = static_cast<size_t>(reply.text.size());
        times.push_back(seconds);
        state.SetIterationTime(seconds);
    }
    helper->writeLine("quit");
    helper->wait(5.0);
    report(state, times);
    state.counters["reply_bytes"] = static_cast<double>(bytes);
}

void BM_HelperQuery(benchmark::State& state) { queryRoundTrip(state, false); }
BENCHMARK(BM_HelperQuery)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_HelperQueryWithArtwork(benchmark::State& state) { queryRoundTrip(state, true); }
BENCHMARK(BM_HelperQueryWithArtwork)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_HelperLaunchToReady(benchmark::State& state) {
    Desktop desktop(false);
    if (!desktop.ok()) {
        state.SkipWithError(desktop.error.toStdString().c_str());
        return;
    }
    platform::PosixProcessLauncher launcher;
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = Clock::now();
        QString error;
        auto helper = launcher.start({kHelper, {MediaRemoteBridge::helperScriptPath()}, platform::ProcessSpec::Stderr::Discard, {}},
                                     &error);
        const bool ready = helper && helper->readLine(5.0).text == "READY";
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!ready) {
            state.SkipWithError("the helper did not start");
            return;
        }
        times.push_back(seconds);
        state.SetIterationTime(seconds);
        helper->writeLine("quit");
        helper->wait(5.0);
    }
    report(state, times);
}
BENCHMARK(BM_HelperLaunchToReady)->Iterations(50)->UseManualTime()->Unit(benchmark::kMillisecond);

// One timer tick of the service with the default source: the player scripts' probe, the helper's
// query with the cover, its reading, and the main-thread step. Argument 1: the track changes each
// time, so it is published on every poll; 0: the same track plays on and nothing is published.
// The cover is the same file throughout, so it is decoded and coloured once.
void BM_ServicePoll(benchmark::State& state) {
    const bool newTracks = state.range(0) == 1;
    Desktop desktop(true);
    if (!desktop.ok()) {
        state.SkipWithError(desktop.error.toStdString().c_str());
        return;
    }
    platform::VirtualScheduler scheduler;
    platform::Defaults defaults;
    EventBus bus(scheduler);
    platform::PosixProcessLauncher launcher;
    MediaRemoteService service(bus, scheduler, &defaults, std::make_unique<MediaRemoteBridge>(launcher, scheduler, kHelper));
    int published = 0;
    auto subscription = bus.nowPlayingSubject.sink([&](const std::optional<NowPlayingInfo>& info) { published += info ? 1 : 0; });
    service.start();
    scheduler.drain();
    std::vector<double> times;
    int n = 0;
    for (auto _ : state) {
        if (newTracks) {
            desktop.player->setProperty("org.mpris.MediaPlayer2.Player", "Metadata",
                                        QVariantMap{{"xesam:title", QStringLiteral("Song %1").arg(++n)},
                                                    {"xesam:artist", QStringList{"Band"}},
                                                    {"mpris:artUrl", desktop.artUrl}});
        }
        const int before = published;
        const auto start = Clock::now();
        scheduler.advance(1.0);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (published != before + (newTracks ? 1 : 0)) {
            state.SkipWithError("a poll did not publish its new track, or republished the same one");
            return;
        }
        times.push_back(seconds);
        state.SetIterationTime(seconds);
    }
    service.stop();
    report(state, times);
}
BENCHMARK(BM_ServicePoll)->Arg(1)->Arg(0)->Iterations(300)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
