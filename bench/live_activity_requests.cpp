#include "core/event_bus.h"
#include "live_activities/live_activity_manager.h"
#include "platform/logging/log_backend.h"
#include "platform/storage/defaults.h"
#include "support/virtual_scheduler.h"

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

constexpr int kRequests = 10'000;

// Lines are built as in the application but go nowhere: the benchmark measures the decision, not the sink.
class DiscardingBackend final : public platform::LogBackend {
public:
    bool isEnabled(platform::LogLevel) const override { return true; }
    void write(platform::LogLevel, const QString&) override {}
};

// 10,000 requests alternating volume and display brightness, each delivered through the bus and
// its hop to the main queue, as the services send them (virtual time stands still, as in a burst).
// Every request replaces the activity; the counters show what the scheduler holds after each
// batch: live steps, and all queued steps including cancelled ones.
void BM_AlternatingRequests(benchmark::State& state) {
    platform::VirtualScheduler scheduler;
    auto* previous = platform::Scheduler::setShared(&scheduler);
    platform::Defaults defaults;
    EventBus bus(scheduler);
    LiveActivityManager manager(bus, scheduler, &defaults);
    manager.start();

    size_t maxPending = 0;
    size_t maxQueued = 0;
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i) {
            bus.liveActivityEventSubject.send(i % 2 == 0 ? LiveActivityType::volume : LiveActivityType::displayBrightness);
            scheduler.drain();
        }
        state.PauseTiming();
        maxPending = std::max(maxPending, scheduler.pendingCount());
        maxQueued = std::max(maxQueued, scheduler.queuedCount());
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
    state.counters["us_per_request"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kRequests), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["max_pending"] = static_cast<double>(maxPending);
    // Cancelled steps count here until their time comes: a timer re-created per request piles up.
    state.counters["max_queued"] = static_cast<double>(maxQueued);
    manager.stop();
    platform::Scheduler::setShared(previous);
}
BENCHMARK(BM_AlternatingRequests)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    DiscardingBackend backend;
    platform::LogBackend::setShared(&backend);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
