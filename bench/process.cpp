#include "platform/process/posix_process_launcher.h"

#include <benchmark/benchmark.h>

namespace {

// One request line to a long-lived child and its reply back: the cost a line-protocol helper
// pays per query on top of its own work.
void BM_LineRoundTrip(benchmark::State& state) {
    platform::PosixProcessLauncher launcher;
    auto child = launcher.start({QStringLiteral("/bin/cat"), {}, {}, {}});
    if (!child) {
        state.SkipWithError("cannot start /bin/cat");
        return;
    }
    const QByteArray line(state.range(0), 'x');
    for (auto _ : state) {
        child->writeLine(line);
        benchmark::DoNotOptimize(child->readLine(5.0));
    }
}
BENCHMARK(BM_LineRoundTrip)->Arg(16)->Arg(4096)->UseRealTime();

// Start, run to its end and reap a trivial tool.
void BM_RunToEnd(benchmark::State& state) {
    platform::PosixProcessLauncher launcher;
    for (auto _ : state) benchmark::DoNotOptimize(launcher.run({QStringLiteral("/bin/true"), {}, {}, {}}, 5.0));
}
BENCHMARK(BM_RunToEnd)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
