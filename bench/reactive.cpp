#include "platform/runtime/reactive.h"
#include "support/virtual_scheduler.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

// One send delivered to state.range(0) subscribers.
template <class Subject>
void BM_Send(benchmark::State& state, Subject& subject) {
    std::vector<platform::AnyCancellable> subscriptions;
    int64_t sum = 0;
    for (int i = 0; i < state.range(0); ++i) subscriptions.push_back(subject.sink([&](const int& v) { sum += v; }));
    for (auto _ : state) subject.send(1);
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_PassthroughSend(benchmark::State& state) {
    platform::PassthroughSubject<int> subject;
    BM_Send(state, subject);
}
BENCHMARK(BM_PassthroughSend)->Arg(1)->Arg(10)->Arg(100);

void BM_CurrentValueSend(benchmark::State& state) {
    platform::CurrentValueSubject<int> subject(0);
    BM_Send(state, subject);
}
BENCHMARK(BM_CurrentValueSend)->Arg(1)->Arg(10)->Arg(100);

// Schedule 10,000 steps at scattered times, then run them all.
void BM_VirtualScheduler10k(benchmark::State& state) {
    int64_t runs = 0;
    for (auto _ : state) {
        platform::VirtualScheduler s;
        for (int i = 0; i < 10'000; ++i) s.after(static_cast<double>((i * 7919) % 10'000) / 1000.0, [&] { ++runs; });
        s.advance(11.0);
    }
    benchmark::DoNotOptimize(runs);
    state.SetItemsProcessed(state.iterations() * 10'000);
}
BENCHMARK(BM_VirtualScheduler10k);

// One more step into a scheduler that already holds 10,000 pending ones.
void BM_VirtualSchedulerInsertInto10k(benchmark::State& state) {
    platform::VirtualScheduler s;
    for (int i = 0; i < 10'000; ++i) s.after(1000.0 + i, [] {});
    for (auto _ : state) {
        s.post([] {});
        s.drain();
    }
}
BENCHMARK(BM_VirtualSchedulerInsertInto10k);

}  // namespace

BENCHMARK_MAIN();
