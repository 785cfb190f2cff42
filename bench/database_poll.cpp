// One poll of the database detector against a store of 100,000 records: with nothing new, and
// with 20 new records that are decoded and published.

#include "database_bench_support.h"

#include "support/virtual_scheduler.h"

#include <functional>

namespace {

constexpr int kStoreSize = 100'000;

// A watch whose events the benchmark delivers by hand: each delivery runs exactly one poll.
class ManualWatcher final : public platform::FileWatcher {
public:
    class Source final : public platform::FileEventSource {
    public:
        explicit Source(ManualWatcher& owner) : owner_(owner) {}
        ~Source() override { owner_.handler = nullptr; }
        int descriptor() const override { return 0; }

    private:
        ManualWatcher& owner_;
    };
    std::unique_ptr<platform::FileEventSource> watchWrites(const QString&, std::function<void()> onChange) override {
        handler = std::move(onChange);
        return std::make_unique<Source>(*this);
    }
    std::function<void()> handler;
};

struct Setup {
    Setup() : writer(home.storePath) {
        benchsupport::appendRecords(writer, 1, kStoreSize);
        detector = home.detector(bus, scheduler, watcher);
        if (!detector->start()) std::abort();
        subscription = bus.signalSubject.sink([this](const NotificationSignal&) { ++published; });
    }
    benchsupport::StoreHome home;
    notificationstore::Writer writer;
    platform::VirtualScheduler scheduler;  // the detector's timer never fires on its own
    EventBus bus{scheduler};
    ManualWatcher watcher;
    std::unique_ptr<NotificationDatabaseDetector> detector;
    platform::AnyCancellable subscription;
    int64_t published = 0;
    int next = kStoreSize + 1;
};

Setup& setup() {
    static Setup instance;
    return instance;
}

void BM_PollNoNewRows(benchmark::State& state) {
    Setup& s = setup();
    for (auto _ : state) s.watcher.handler();
    if (s.published != 0) state.SkipWithError("published rows that were not new");
}
BENCHMARK(BM_PollNoNewRows)->Unit(benchmark::kMicrosecond);

void BM_PollTwentyNewRows(benchmark::State& state) {
    Setup& s = setup();
    const int64_t before = s.published;
    for (auto _ : state) {
        state.PauseTiming();
        benchsupport::appendRecords(s.writer, s.next, 20);
        s.next += 20;
        state.ResumeTiming();
        s.watcher.handler();
    }
    if (s.published - before != state.iterations() * 20) state.SkipWithError("not every new row was published");
    state.SetItemsProcessed(state.iterations() * 20);
}
BENCHMARK(BM_PollTwentyNewRows)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::runBenchmarks(argc, argv); }
