#include "platform/defaults.h"

#include <benchmark/benchmark.h>

namespace {

// About as many keys as the application keeps.
void fill(platform::Defaults& defaults) {
    for (int i = 0; i < 30; ++i) defaults.set(QStringLiteral("liveActivity_key%1").arg(i), i % 2 == 0);
    defaults.set(QStringLiteral("enableNotchFeatures"), true);
}

void BM_DefaultsBoolPresent(benchmark::State& state) {
    platform::Defaults defaults;
    fill(defaults);
    const QString key = QStringLiteral("enableNotchFeatures");
    for (auto _ : state) benchmark::DoNotOptimize(defaults.boolValue(key));
}
BENCHMARK(BM_DefaultsBoolPresent);

void BM_DefaultsBoolAbsent(benchmark::State& state) {
    platform::Defaults defaults;
    fill(defaults);
    const QString key = QStringLiteral("enableMusicHotkeys");
    for (auto _ : state) benchmark::DoNotOptimize(defaults.boolValue(key));
}
BENCHMARK(BM_DefaultsBoolAbsent);

}  // namespace

BENCHMARK_MAIN();
