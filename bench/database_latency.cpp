// From a committed insert by another connection (on another thread, as another process would
// write) to the signal on the bus, through the real inotify watch and the Qt event loop.
// Reported per insert: median, 99th percentile and maximum, and how many inserts the file event
// missed (those arrive only with the 2.0 s timer).

#include "database_bench_support.h"

#include "platform/runtime/dispatch.h"
#include "platform/files/file_watcher.h"

#include <QEventLoop>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Inserts one record whenever asked, on its own thread and connection.
class WriterThread {
public:
    WriterThread(const QString& path, bool syncEachCommit) : thread_([this, path, syncEachCommit] { run(path, syncEachCommit); }) {}
    ~WriterThread() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void requestInsert() {
        std::lock_guard lock(mutex_);
        ++requested_;
        changed_.notify_all();
    }
    // The moment the last requested insert had committed.
    Clock::time_point waitForCommit() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return done_ == requested_; });
        return committedAt_;
    }

private:
    void run(const QString& path, bool syncEachCommit) {
        notificationstore::Writer writer(path);
        if (syncEachCommit) writer.execute("PRAGMA synchronous=FULL");
        int n = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || done_ < requested_; });
            if (quit_) return;
            lock.unlock();
            writer.appendRecord(QStringLiteral("com.example.Mail"), benchsupport::sampleRecord(++n));
            const auto committed = Clock::now();
            lock.lock();
            committedAt_ = committed;
            ++done_;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    int requested_ = 0;
    int done_ = 0;
    bool quit_ = false;
    Clock::time_point committedAt_;
    std::thread thread_;
};

void BM_InsertToSignalLatency(benchmark::State& state) {
    benchsupport::StoreHome home;
    {
        notificationstore::Writer seed(home.storePath);
        benchsupport::appendRecords(seed, 1, 1000);
    }
    // Holds the store open, as the system does; argument 1 syncs at every commit, whose change
    // notice then comes before the commit is visible.
    WriterThread writer(home.storePath, state.range(0) == 1);
    writer.requestInsert();
    writer.waitForCommit();

    platform::InotifyFileWatcher inotify;
    EventBus& bus = EventBus::shared();
    auto detector = home.detector(bus, platform::Scheduler::shared(), inotify);
    if (!detector->start() || !detector->isFileMonitored()) {
        state.SkipWithError("the detector did not start with a file watch");
        return;
    }

    QEventLoop loop;
    Clock::time_point signalledAt;
    bool signalled = false;
    auto subscription = bus.signalSubject.sink([&](const NotificationSignal&) {
        signalledAt = Clock::now();
        signalled = true;
        loop.quit();
    });

    std::vector<double> latencies;
    int missed = 0;
    for (auto _ : state) {
        signalled = false;
        writer.requestInsert();
        auto timeout = platform::Scheduler::shared().after(5.0, [&] { loop.quit(); });
        loop.exec();
        timeout.cancel();
        const auto committedAt = writer.waitForCommit();
        if (!signalled) {
            state.SkipWithError("an insert never reached the bus");
            return;
        }
        // A poll can see the row before the writer's commit call has returned.
        const double seconds = std::max(0.0, std::chrono::duration<double>(signalledAt - committedAt).count());
        if (seconds > 1.0) ++missed;
        latencies.push_back(seconds);
        state.SetIterationTime(seconds);
    }
    benchsupport::reportLatencies(state, latencies, missed);
}
BENCHMARK(BM_InsertToSignalLatency)->Arg(0)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertToSignalLatency)->Arg(1)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::runBenchmarks(argc, argv); }
