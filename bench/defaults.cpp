#include "platform/storage/defaults.h"

#include <benchmark/benchmark.h>

namespace {

// A Boolean read among about as many keys as the application keeps, of a key that is stored or not.
void BM_DefaultsBoolRead(benchmark::State& state, const char* key) {
    platform::Defaults defaults;
    for (int i = 0; i < 30; ++i) defaults.set(QStringLiteral("liveActivity_key%1").arg(i), i % 2 == 0);
    defaults.set(QStringLiteral("enableNotchFeatures"), true);
    const QString name = QString::fromLatin1(key);
    for (auto _ : state) benchmark::DoNotOptimize(defaults.boolValue(name));
}
BENCHMARK_CAPTURE(BM_DefaultsBoolRead, present, "enableNotchFeatures");
BENCHMARK_CAPTURE(BM_DefaultsBoolRead, absent, "enableMusicHotkeys");

}  // namespace

BENCHMARK_MAIN();
