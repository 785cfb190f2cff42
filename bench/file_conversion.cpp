// The drop's conversions with the real tools: one JPEG to PNG, a 10 s 720p clip to MPEG-4, and
// four clips through the converter's cap of two at a time. Peak memory of the tools is reported
// as the largest resident size among the finished children.
#include "drop/file_converter_service.h"
#include "support/virtual_scheduler.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

QTemporaryDir& workspace() {
    static QTemporaryDir dir;
    return dir;
}

bool run(const QString& program, const QStringList& arguments) {
    platform::ProcessSpec spec;
    spec.program = program;
    spec.arguments = arguments;
    return platform::ProcessLauncher::system().run(spec, 300).succeeded();
}

QString clip() {
    static const QString path = [] {
        const QString out = workspace().path() + QStringLiteral("/clip.mov");
        run(QStringLiteral("/usr/bin/ffmpeg"),
            {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
             QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc2=size=1280x720:rate=30:duration=10"),
             QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=duration=10"),
             QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast"),
             QStringLiteral("-c:a"), QStringLiteral("aac"), out});
        return out;
    }();
    return path;
}

double childPeakMegabytes() {
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void convertAll(benchmark::State& state, const std::function<void(FileConverterService&, FileConverterService::Completion)>& start,
                int count) {
    platform::VirtualScheduler scheduler;
    FileConverterService::Config config;
    config.outputDirectory = workspace().path() + QStringLiteral("/out");
    FileConverterService converter(platform::ProcessLauncher::system(), scheduler, config);
    for (auto _ : state) {
        int done = 0;
        for (int i = 0; i < count; ++i) start(converter, [&](std::optional<QUrl> url, const QString&) { done += url ? 1 : 0; });
        scheduler.drain();
        if (done != count) state.SkipWithError("a conversion failed");
    }
    state.counters["tool_peak_MB"] = childPeakMegabytes();
}

void BM_JpegToPng(benchmark::State& state) {
    const QString jpeg = workspace().path() + QStringLiteral("/photo.jpeg");
    QImage image(4032, 3024, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    image.save(jpeg, "JPEG");
    convertAll(state, [&](FileConverterService& c, FileConverterService::Completion done) {
        c.convertImage(QUrl::fromLocalFile(jpeg), QStringLiteral("png"), std::move(done));
    }, 1);
}
BENCHMARK(BM_JpegToPng)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Clip720p10s(benchmark::State& state) {
    const QString source = clip();
    convertAll(state, [&](FileConverterService& c, FileConverterService::Completion done) {
        c.convertVideo(QUrl::fromLocalFile(source), std::move(done));
    }, 1);
}
BENCHMARK(BM_Clip720p10s)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// On the virtual clock the queue's runs follow one another, so this measures the tool's cost for
// four clips in the order the cap lets them through.
void BM_FourClips(benchmark::State& state) {
    const QString source = clip();
    convertAll(state, [&](FileConverterService& c, FileConverterService::Completion done) {
        c.convertVideo(QUrl::fromLocalFile(source), std::move(done));
    }, 4);
}
BENCHMARK(BM_FourClips)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
